#include "app/HostStop.h"

#include "app/PanelStandIn.h"
#include "com/Bluetooth.h"
#include "params/Storage.h"
#include "platform/UnitBoard.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr const char* kTag = "Main";

// Empty on the unit.
sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    if (UnitBoard::detected()) return set;
    sigaddset(&set, SIGTERM);
    if (!Bluetooth::hasBus()) sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void HostStop::prepare()
{
    sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void HostStop::waitForever()
{
    if (UnitBoard::detected())
        for (;;) vTaskDelay(1000000);
    const sigset_t set = stopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {}
    LOG_I(kTag, "%s: writing the pending stored values, then stopping\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    const int written = Storage::writePending();
    PanelStandIn::giveTerminalBack();
    LOG_I(kTag, "%d value(s) written; stopped\n", written);
    std::fflush(stdout);
    // The other threads hold nothing that needs more than this; the destructors of statics must not
    // run under them.
    _exit(0);
}
