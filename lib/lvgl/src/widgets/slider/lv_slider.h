#pragma once
// Slider: a bar with a knob at the end of the indicator (range 0..100 unless set).
#include "src/widgets/bar/lv_bar.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LV_SLIDER_MODE_NORMAL = LV_BAR_MODE_NORMAL,
    LV_SLIDER_MODE_SYMMETRICAL = LV_BAR_MODE_SYMMETRICAL,
    LV_SLIDER_MODE_RANGE = LV_BAR_MODE_RANGE,
} lv_slider_mode_t;

extern const lv_obj_class_t lv_slider_class;

lv_obj_t* lv_slider_create(lv_obj_t* parent);
void lv_slider_set_value(lv_obj_t* obj, int32_t value, lv_anim_enable_t anim);
void lv_slider_set_start_value(lv_obj_t* obj, int32_t value, lv_anim_enable_t anim);
void lv_slider_set_range(lv_obj_t* obj, int32_t min, int32_t max);
void lv_slider_set_mode(lv_obj_t* obj, lv_slider_mode_t mode);
int32_t lv_slider_get_value(const lv_obj_t* obj);
int32_t lv_slider_get_left_value(const lv_obj_t* obj);
int32_t lv_slider_get_min_value(const lv_obj_t* obj);
int32_t lv_slider_get_max_value(const lv_obj_t* obj);
/* Where the knob is drawn (after the layout). */
void lv_slider_get_knob_area(lv_obj_t* obj, lv_area_t* area);

#ifdef __cplusplus
}
#endif
