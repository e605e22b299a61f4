#pragma once
// Scrolling by code: the children of an object are shifted by its scroll offsets. Scrolling is
// bounded by the children's extent; there is no touch input and scroll bars are not drawn.
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LV_SCROLLBAR_MODE_OFF,
    LV_SCROLLBAR_MODE_ON,
    LV_SCROLLBAR_MODE_ACTIVE,
    LV_SCROLLBAR_MODE_AUTO,
} lv_scrollbar_mode_t;

void lv_obj_set_scrollbar_mode(lv_obj_t* obj, lv_scrollbar_mode_t mode);
lv_scrollbar_mode_t lv_obj_get_scrollbar_mode(const lv_obj_t* obj);
void lv_obj_set_scroll_dir(lv_obj_t* obj, lv_dir_t dir);
lv_dir_t lv_obj_get_scroll_dir(const lv_obj_t* obj);

int32_t lv_obj_get_scroll_x(const lv_obj_t* obj);
int32_t lv_obj_get_scroll_y(const lv_obj_t* obj);
/* How far the children reach past the top, bottom, left and right of the content area. */
int32_t lv_obj_get_scroll_top(lv_obj_t* obj);
int32_t lv_obj_get_scroll_bottom(lv_obj_t* obj);
int32_t lv_obj_get_scroll_left(lv_obj_t* obj);
int32_t lv_obj_get_scroll_right(lv_obj_t* obj);

/* Scroll by a distance; positive values move the content right and down. */
void lv_obj_scroll_by(lv_obj_t* obj, int32_t dx, int32_t dy, lv_anim_enable_t anim_en);
void lv_obj_scroll_by_bounded(lv_obj_t* obj, int32_t dx, int32_t dy, lv_anim_enable_t anim_en);
void lv_obj_scroll_to(lv_obj_t* obj, int32_t x, int32_t y, lv_anim_enable_t anim_en);
void lv_obj_scroll_to_x(lv_obj_t* obj, int32_t x, lv_anim_enable_t anim_en);
void lv_obj_scroll_to_y(lv_obj_t* obj, int32_t y, lv_anim_enable_t anim_en);

#ifdef __cplusplus
}
#endif
