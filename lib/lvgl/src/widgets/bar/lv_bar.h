#pragma once
// Bar: a track (main part) with an indicator from the start value (range mode) or the minimum to
// the value. It is vertical, filling from the bottom, when it is taller than wide.
#include "src/core/lv_obj.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LV_BAR_MODE_NORMAL,
    LV_BAR_MODE_SYMMETRICAL,
    LV_BAR_MODE_RANGE,
} lv_bar_mode_t;

typedef enum {
    LV_BAR_ORIENTATION_AUTO,
    LV_BAR_ORIENTATION_HORIZONTAL,
    LV_BAR_ORIENTATION_VERTICAL,
} lv_bar_orientation_t;

extern const lv_obj_class_t lv_bar_class;

lv_obj_t* lv_bar_create(lv_obj_t* parent);
/* Values are clamped to the range; in range mode the value stays at or above the start value and
 * the start value at or below the value, so set the value before the start value. */
void lv_bar_set_value(lv_obj_t* obj, int32_t value, lv_anim_enable_t anim);
void lv_bar_set_start_value(lv_obj_t* obj, int32_t start_value, lv_anim_enable_t anim);
void lv_bar_set_range(lv_obj_t* obj, int32_t min, int32_t max);
void lv_bar_set_mode(lv_obj_t* obj, lv_bar_mode_t mode);
void lv_bar_set_orientation(lv_obj_t* obj, lv_bar_orientation_t orientation);
int32_t lv_bar_get_value(const lv_obj_t* obj);
int32_t lv_bar_get_start_value(const lv_obj_t* obj);
int32_t lv_bar_get_min_value(const lv_obj_t* obj);
int32_t lv_bar_get_max_value(const lv_obj_t* obj);
lv_bar_mode_t lv_bar_get_mode(lv_obj_t* obj);
lv_bar_orientation_t lv_bar_get_orientation(lv_obj_t* obj);
bool lv_bar_is_symmetrical(lv_obj_t* obj);
/* Where the indicator is drawn (after the layout); empty when it has no length. */
void lv_bar_get_indicator_area(lv_obj_t* obj, lv_area_t* area);

#ifdef __cplusplus
}
#endif
