// The unit's program: starts every service in order on the main thread, then sleeps forever.
// There is no orderly shutdown.

#include "base/Debug.h"
#include "base/Runtime.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <cstdio>

int main()
{
    // Log lines must reach a pipe or file as they are written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    if (lock_memory() < 0) LOG_E("MemLock", "Continuing without memory locking...\n\n");
    install_crash_handler();

    xTaskCreatePinnedToCore(info_tasks, "infoTasks", 4096, nullptr, 0, nullptr, 0);

    for (;;) vTaskDelay(1000000);
}
