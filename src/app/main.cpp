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
#include "platform/Scheduling.h"
#include "porting/Log.h"
#include "porting/Task.h"
#include "ui/ServiceThreads.h"

#include <cstdio>

int main()
{
    // Log lines must reach a pipe or file as they are written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Before any thread: each one created later inherits the stop signals' block.
    HostStop::prepare();

    if (Scheduling::unitRealtime() && lock_memory() < 0)
        LOG_E("MemLock", "Continuing without memory locking...\n\n");
    install_crash_handler();
    // The launcher decision and the top of the parameter tree come before anything else.
    System::initialize("ap0003");
    // Both applications build the board (converter, control sources, start-up scripts), which starts
    // on "eventTasks". The update-mode application has no audio blocks.
    if (Update::isRecovery())
        new KestrunUpdater(System::appNode(), System::rootNode());
    else
        new Kestrun(System::appNode(), System::rootNode());
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
