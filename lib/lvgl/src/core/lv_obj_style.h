#pragma once
// Styles on objects. Look-up order for a part and the object's state: local values first, then
// added styles from the last added to the first (theme styles were added at creation, so they
// come last); among matching entries the one for the most specific state wins. Text properties
// that are not set anywhere are inherited from the parent.
#include "src/misc/lv_style.h"

#ifdef __cplusplus
extern "C" {
#endif

void lv_obj_add_style(lv_obj_t* obj, const lv_style_t* style, lv_style_selector_t selector);
/* A null style removes every style of the selector; LV_PART_ANY | LV_STATE_ANY matches all. */
void lv_obj_remove_style(lv_obj_t* obj, const lv_style_t* style, lv_style_selector_t selector);
void lv_obj_remove_style_all(lv_obj_t* obj);
/* Tells every object that uses the style (null: any style) that its values changed. */
void lv_obj_report_style_change(lv_style_t* style);

void lv_obj_set_local_style_prop(lv_obj_t* obj, lv_style_prop_t prop, lv_style_value_t value,
                                 lv_style_selector_t selector);
lv_style_value_t lv_obj_get_style_prop(const lv_obj_t* obj, lv_part_t part, lv_style_prop_t prop);

void lv_obj_set_style_pad_all(lv_obj_t* obj, int32_t value, lv_style_selector_t selector);
void lv_obj_set_style_pad_hor(lv_obj_t* obj, int32_t value, lv_style_selector_t selector);
void lv_obj_set_style_pad_ver(lv_obj_t* obj, int32_t value, lv_style_selector_t selector);
void lv_obj_set_style_pad_gap(lv_obj_t* obj, int32_t value, lv_style_selector_t selector);
void lv_obj_set_style_size(lv_obj_t* obj, int32_t width, int32_t height, lv_style_selector_t selector);

/* Padding plus the border width on that side (when the border covers the side). */
int32_t lv_obj_get_style_space_left(const lv_obj_t* obj, lv_part_t part);
int32_t lv_obj_get_style_space_right(const lv_obj_t* obj, lv_part_t part);
int32_t lv_obj_get_style_space_top(const lv_obj_t* obj, lv_part_t part);
int32_t lv_obj_get_style_space_bottom(const lv_obj_t* obj, lv_part_t part);

static inline lv_part_t lv_obj_style_get_selector_part(lv_style_selector_t selector)
{
    return selector & 0xFF0000;
}

static inline lv_state_t lv_obj_style_get_selector_state(lv_style_selector_t selector)
{
    return selector & 0xFFFF;
}

#ifdef __cplusplus
}
#endif

#include "src/core/lv_obj_style_gen.h"
