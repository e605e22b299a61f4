#include "src/misc/lv_timer.h"

#include <chrono>

#include "lvgl.h"
#include "src/display/lv_display_private.h"

namespace {

bool initialized = false;
uint32_t ticks_ms = 0;
bool ticks_set = false;

} // namespace

void lv_init(void)
{
    initialized = true;
}

void lv_deinit(void)
{
    while (lv_display_t* disp = lv_display_get_next(nullptr)) lv_display_delete(disp);
    lv_theme_default_deinit();
    initialized = false;
}

bool lv_is_initialized(void)
{
    return initialized;
}

uint32_t lv_timer_handler(void)
{
    for (lv_display_t* disp = lv_display_get_next(nullptr); disp; disp = lv_display_get_next(disp)) {
        lv_display_refresh(disp);
    }
    return 1;
}

void lv_tick_inc(uint32_t tick_period)
{
    ticks_set = true;
    ticks_ms += tick_period;
}

uint32_t lv_tick_get(void)
{
    if (ticks_set) return ticks_ms;
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
