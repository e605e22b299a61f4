#pragma once
// Library start and the periodic handler: lv_timer_handler refreshes every display whose objects
// changed since its last frame (layout, drawing, flush).
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

void lv_init(void);
void lv_deinit(void);
bool lv_is_initialized(void);
/* Returns the milliseconds until it wants to run again. */
uint32_t lv_timer_handler(void);
void lv_tick_inc(uint32_t tick_period);
uint32_t lv_tick_get(void);

#ifdef __cplusplus
}
#endif
