#pragma once
// Displays: a display owns its screens and a frame of its resolution in RGB565. At each refresh
// (lv_timer_handler) a display whose objects changed lays out and draws the active screen's
// whole tree and hands the frame to its flush callback.
#include "src/misc/lv_color.h"
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Receives the whole frame: `area` is the display's area, `px_map` RGB565 pixels row by row. */
typedef void (*lv_display_flush_cb_t)(lv_display_t* disp, const lv_area_t* area, uint8_t* px_map);

lv_display_t* lv_display_create(int32_t hor_res, int32_t ver_res);
void lv_display_delete(lv_display_t* disp);
void lv_display_set_default(lv_display_t* disp);
lv_display_t* lv_display_get_default(void);
/* The display after `disp` (the first one for null). */
lv_display_t* lv_display_get_next(lv_display_t* disp);

void lv_display_set_resolution(lv_display_t* disp, int32_t hor_res, int32_t ver_res);
int32_t lv_display_get_horizontal_resolution(const lv_display_t* disp);
int32_t lv_display_get_vertical_resolution(const lv_display_t* disp);
/* Where the display's frame starts on the physical panel (used by the back ends). */
void lv_display_set_offset(lv_display_t* disp, int32_t x, int32_t y);
int32_t lv_display_get_offset_x(const lv_display_t* disp);
int32_t lv_display_get_offset_y(const lv_display_t* disp);
lv_color_format_t lv_display_get_color_format(lv_display_t* disp);

void lv_display_set_theme(lv_display_t* disp, lv_theme_t* th);
lv_theme_t* lv_display_get_theme(lv_display_t* disp);

lv_obj_t* lv_display_get_screen_active(lv_display_t* disp);
lv_obj_t* lv_screen_active(void);
void lv_screen_load(lv_obj_t* scr);

void lv_display_set_flush_cb(lv_display_t* disp, lv_display_flush_cb_t flush_cb);
void lv_display_flush_ready(lv_display_t* disp);
void lv_display_set_driver_data(lv_display_t* disp, void* driver_data);
void* lv_display_get_driver_data(lv_display_t* disp);
void lv_display_set_user_data(lv_display_t* disp, void* user_data);
void* lv_display_get_user_data(lv_display_t* disp);

/* Redraws the display at once when anything changed (null: the default display). */
void lv_refr_now(lv_display_t* disp);

#ifdef __cplusplus
}
#endif
