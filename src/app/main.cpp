// The unit's program: starts every service in order on the main thread, then sleeps forever.
// The unit has no orderly shutdown; elsewhere SIGTERM, and Ctrl-C without Bluetooth, stop it (HostStop).

#include "app/HostStop.h"
#include "app/Kestrun.h"
#include "app/KestrunUpdater.h"
#include "audio/AudioProcessor.h"
#include "audio/AudioUSB.h"
#include "base/Debug.h"
#include "base/Runtime.h"
#include "base/System.h"
#include "base/Update.h"
#include "com/Bluetooth.h"
#include "com/Com.h"
#include "com/Serial.h"
#include "com/Wifi.h"
#include "params/Control.h"
#include "params/NodeItem.h"
#include "platform/FolderLock.h"
#include "platform/Paths.h"
#include "platform/Scheduling.h"
#include "porting/Log.h"
#include "porting/Task.h"
#include "ui/ServiceThreads.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Two programs on one stored-data folder would each keep its own values and overwrite the other's
// files (and on a host take each other's panel pipe): the second one does not start.
bool claimStoredData()
{
    const std::string folder = Paths::map("/home/storage");
    const FolderLock::Claim claim = FolderLock::claim(folder);
    if (claim.error == 0) return true;
    if (claim.error != EAGAIN) {
        // Storage tells its own failure; the program runs as it does without a store.
        LOG_W("Main", "%s cannot be locked (%s): a second program on it would not be refused\n", folder.c_str(),
              std::strerror(claim.error));
        return true;
    }
    std::string holder = "another process";
    if (claim.holder > 0) {
        const std::string name = FolderLock::processName(claim.holder);
        holder = "process " + std::to_string(claim.holder) + (name.empty() ? "" : " (" + name + ")");
    }
    LOG_E("Main", "%s is in use by %s: one program per stored-data folder, not started\n", folder.c_str(),
          holder.c_str());
    return false;
}

} // namespace

int main()
{
    // Log lines must reach a pipe or file as they are written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Before any thread: each one created later inherits the stop signals' block.
    HostStop::prepare();

    if (Scheduling::unitRealtime() && lock_memory() < 0) LOG_E("MemLock", "Continuing without memory locking...\n\n");
    install_crash_handler();
    // The launcher decision first: the image it may run uses the same folder, and has ended by then.
    Update::initialize();
    if (!claimStoredData()) return 1;
    // The top of the parameter tree comes before anything else.
    System::initialize("ap0003");
    // Both applications build the board (converter, control sources, start-up scripts), which starts
    // on "eventTasks". The update-mode application has no audio blocks.
    if (Update::isRecovery()) new KestrunUpdater(System::appNode(), System::rootNode());
    else new Kestrun(System::appNode(), System::rootNode());
    // "controlLoop" polls the control sources (MIDI, analog controller).
    AudioProcessor::setControlTasks(Control::tasks);

    AudioUSB::initialize();
    AudioProcessor::audioInitialize(true);
    // "eventTasks" starts the board (codec, display, panel); the audio thread polls until the codec
    // is there.
    xTaskCreatePinnedToCore(system_tasks, "systemTasks", 0, nullptr, 0, nullptr, 0);
    xTaskCreatePinnedToCore(event_tasks, "eventTasks", 0, nullptr, 0, nullptr, 0);

    // The remote transports register themselves; "comTasks" starts and polls them in this order.
    Node* root = System::rootNode();
    new Bluetooth(root, root->pathToNode("root\\sys\\_name"));
    new Serial(root, "/dev/ttyGS0", 0, 0);
    new Wifi(root, root->pathToNode("root\\sys\\_name"), 8080);
    xTaskCreatePinnedToCore(Com::com_tasks, "comTasks", 0, nullptr, 0, nullptr, 0);
    xTaskCreatePinnedToCore(info_tasks, "infoTasks", 0, nullptr, 0, nullptr, 0);

    HostStop::waitForever();
}
