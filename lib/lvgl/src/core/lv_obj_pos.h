#pragma once
// Position, size and alignment of objects. Positions are relative to the parent's content area
// (inside its border and padding); sizes may be pixels, LV_PCT of the parent's content or
// LV_SIZE_CONTENT. The absolute coordinates are computed by the layout, which runs when the
// display refreshes or when lv_obj_update_layout is called.
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

void lv_obj_set_pos(lv_obj_t* obj, int32_t x, int32_t y);
void lv_obj_set_x(lv_obj_t* obj, int32_t x);
void lv_obj_set_y(lv_obj_t* obj, int32_t y);
void lv_obj_set_size(lv_obj_t* obj, int32_t w, int32_t h);
void lv_obj_set_width(lv_obj_t* obj, int32_t w);
void lv_obj_set_height(lv_obj_t* obj, int32_t h);
void lv_obj_set_align(lv_obj_t* obj, lv_align_t align);
/* Sets the alignment and the offsets from the aligned place. */
void lv_obj_align(lv_obj_t* obj, lv_align_t align, int32_t x_ofs, int32_t y_ofs);
void lv_obj_center(lv_obj_t* obj);

/* Computes the coordinates of the whole tree the object is in. */
void lv_obj_update_layout(const lv_obj_t* obj);
void lv_obj_get_coords(const lv_obj_t* obj, lv_area_t* coords);
/* Position relative to the parent's content area (as set after alignment). */
int32_t lv_obj_get_x(const lv_obj_t* obj);
int32_t lv_obj_get_y(const lv_obj_t* obj);
int32_t lv_obj_get_x2(const lv_obj_t* obj);
int32_t lv_obj_get_y2(const lv_obj_t* obj);
int32_t lv_obj_get_width(const lv_obj_t* obj);
int32_t lv_obj_get_height(const lv_obj_t* obj);
int32_t lv_obj_get_content_width(const lv_obj_t* obj);
int32_t lv_obj_get_content_height(const lv_obj_t* obj);
void lv_obj_get_content_coords(const lv_obj_t* obj, lv_area_t* area);

#ifdef __cplusplus
}
#endif
