// The user interface as a fresh process finds it: no screen on the stack and no event queued, the
// default splash, the service threads' counters at their start, the status light not set up.
#include "support/ResetHooks.h"
#include "ui/EventDispatcher.h"
#include "ui/LCD.h"
#include "ui/Light.h"
#include "ui/ServiceThreads.h"

static ResetHook uiReset([] {
    while (!EventDispatcher::events.empty()) EventDispatcher::removeListener(EventDispatcher::events.back());
    int code;
    while (EventDispatcher::eventQueue.try_dequeue(code)) {}
    LCD::custom_splash = nullptr;
    service_threads_reset();
    Light::initialized = false;
    Light::enabled = true;
    Light::color = nullptr;
    Light::defaultColor = "FF8A00";
    Light::tempColor.set("");
    Light::status = nullptr;
    Light::rgb = 0;
});
