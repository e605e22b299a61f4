#pragma once
// Scale: a straight scale with evenly spaced ticks between a minimum and a maximum, every n-th
// tick a major tick with its value as a label. Styles: main part = the base line, LV_PART_ITEMS =
// minor ticks, LV_PART_INDICATOR = major ticks and labels; the tick length is the `length` style.
#include "src/core/lv_obj.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LV_SCALE_MODE_HORIZONTAL_TOP = 0x00,
    LV_SCALE_MODE_HORIZONTAL_BOTTOM = 0x01,
    LV_SCALE_MODE_VERTICAL_LEFT = 0x02,
    LV_SCALE_MODE_VERTICAL_RIGHT = 0x04,
    LV_SCALE_MODE_ROUND_INNER = 0x08,
    LV_SCALE_MODE_ROUND_OUTER = 0x10,
} lv_scale_mode_t;

extern const lv_obj_class_t lv_scale_class;

lv_obj_t* lv_scale_create(lv_obj_t* parent);
void lv_scale_set_mode(lv_obj_t* obj, lv_scale_mode_t mode);
void lv_scale_set_total_tick_count(lv_obj_t* obj, uint32_t total_tick_count);
void lv_scale_set_major_tick_every(lv_obj_t* obj, uint32_t major_tick_every);
void lv_scale_set_label_show(lv_obj_t* obj, bool show_label);
void lv_scale_set_range(lv_obj_t* obj, int32_t min, int32_t max);
/* Texts for the major ticks instead of their values (null-ended, not copied). */
void lv_scale_set_text_src(lv_obj_t* obj, const char* txt_src[]);
lv_scale_mode_t lv_scale_get_mode(lv_obj_t* obj);
int32_t lv_scale_get_total_tick_count(lv_obj_t* obj);
int32_t lv_scale_get_major_tick_every(lv_obj_t* obj);
bool lv_scale_get_label_show(lv_obj_t* obj);
int32_t lv_scale_get_range_min_value(lv_obj_t* obj);
int32_t lv_scale_get_range_max_value(lv_obj_t* obj);

#ifdef __cplusplus
}
#endif
