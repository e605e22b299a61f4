#pragma once
// Test helpers of this layer: the last drawn frame of a display as RGB565 pixels or as a PNG
// file, an object's class name, and a text dump of an object tree.
#include <stdio.h>

#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* RGB565 pixel of the last frame (0 outside it or before the first frame). */
uint16_t lv_test_display_get_pixel(lv_display_t* disp, int32_t x, int32_t y);
/* The last frame, hor_res x ver_res RGB565 pixels row by row (null before the first frame). */
const uint16_t* lv_test_display_get_frame(lv_display_t* disp);
/* Writes the last frame as an 8-bit RGB PNG; false when there is no frame or the file fails. */
bool lv_test_display_write_png(lv_display_t* disp, const char* path);
/* Writes an RGB565 frame as a PNG (also used by the host display back end). */
bool lv_test_write_png_rgb565(const uint16_t* frame, int32_t w, int32_t h, const char* path);
const char* lv_test_obj_get_class_name(const lv_obj_t* obj);
/* One line per object, indented by depth: class, absolute area, label text. */
void lv_test_obj_dump(lv_obj_t* obj, FILE* out);

#ifdef __cplusplus
}
#endif
