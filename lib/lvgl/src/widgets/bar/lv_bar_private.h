#pragma once
// Bar data, shared with the slider (C++ only).
#include "src/core/lv_obj_private.h"

struct lv_bar_t : _lv_obj_t {
    int32_t cur_value = 0;
    int32_t start_value = 0;
    int32_t min_value = 0;
    int32_t max_value = 100;
    lv_bar_mode_t mode = LV_BAR_MODE_NORMAL;
    lv_bar_orientation_t orientation = LV_BAR_ORIENTATION_AUTO;
};

bool lv_bar_is_vertical(const lv_obj_t* obj);
/* The indicator's area; false when it has no length. `end` is where the value lies (the knob's
 * centre): x for a horizontal bar, y for a vertical one. */
bool lv_bar_calc_indicator(const lv_obj_t* obj, lv_area_t* indic, int32_t* end);
void lv_bar_draw_indicator(lv_obj_t* obj, lv_layer_t* layer);
