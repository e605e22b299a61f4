#include "app/HostStop.h"

#include "app/PanelStandIn.h"
#include "com/Bluetooth.h"
#include "params/Storage.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char* const TAG = "Main";

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

bool HostStop::wanted()
{
    return !Bluetooth::hasBus();
}

void HostStop::prepare()
{
    if (!wanted()) return;
    sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void HostStop::waitForever()
{
    if (!wanted())
        for (;;) vTaskDelay(1000000);
    const sigset_t set = stopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    LOG_I(TAG, "%s: writing the pending stored values, then stopping\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    const int written = Storage::writePending();
    PanelStandIn::giveTerminalBack();
    LOG_I(TAG, "%d value(s) written; stopped\n", written);
    std::fflush(stdout);
    // The other threads hold no state that needs more than this; their destructors must not run
    // under them.
    _exit(0);
}
