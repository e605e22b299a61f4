// The unit's program: starts every service in order on the main thread, then sleeps forever.
// There is no orderly shutdown.

#include "base/Debug.h"
#include "base/Runtime.h"
#include "base/System.h"
#include "com/Com.h"
#include "com/Serial.h"
#include "com/Wifi.h"
#include "params/NodeItem.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <cstdio>

int main()
{
    // Log lines must reach a pipe or file as they are written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    if (lock_memory() < 0) LOG_E("MemLock", "Continuing without memory locking...\n\n");
    install_crash_handler();
    // The launcher decision and the top of the parameter tree come before anything else.
    System::initialize("ap0003");

    // The remote transports register themselves; "comTasks" starts and polls them.
    new Serial(System::rootNode(), "/dev/ttyGS0", 0, 0);
    new Wifi(System::rootNode(), System::rootNode()->pathToNode("root\\sys\\_name"), 8080);
    xTaskCreatePinnedToCore(Com::com_tasks, "comTasks", 4096, nullptr, 0, nullptr, 0);
    xTaskCreatePinnedToCore(info_tasks, "infoTasks", 4096, nullptr, 0, nullptr, 0);

    for (;;) vTaskDelay(1000000);
}
