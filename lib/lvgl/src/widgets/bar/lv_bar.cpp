#include "src/widgets/bar/lv_bar.h"

#include "src/draw/lv_draw.h"
#include "src/widgets/bar/lv_bar_private.h"

namespace {

lv_bar_t* as_bar(const lv_obj_t* obj);
lv_obj_t* create_instance();
void constructor(lv_obj_t* obj);
void draw_main(lv_obj_t* obj, lv_layer_t* layer);

} // namespace

bool lv_bar_is_vertical(const lv_obj_t* obj)
{
    lv_bar_t* bar = as_bar(obj);
    if (bar->orientation == LV_BAR_ORIENTATION_VERTICAL) return true;
    if (bar->orientation == LV_BAR_ORIENTATION_HORIZONTAL) return false;
    return lv_area_get_height(&obj->coords) > lv_area_get_width(&obj->coords);
}

bool lv_bar_calc_indicator(const lv_obj_t* obj, lv_area_t* indic, int32_t* end)
{
    lv_bar_t* bar = as_bar(obj);
    lv_area_t base = {obj->coords.x1 + lv_obj_get_style_pad_left(obj, LV_PART_MAIN),
                      obj->coords.y1 + lv_obj_get_style_pad_top(obj, LV_PART_MAIN),
                      obj->coords.x2 - lv_obj_get_style_pad_right(obj, LV_PART_MAIN),
                      obj->coords.y2 - lv_obj_get_style_pad_bottom(obj, LV_PART_MAIN)};
    int32_t range = bar->max_value - bar->min_value;
    if (range <= 0) range = 1;
    int32_t from = bar->min_value;
    if (bar->mode == LV_BAR_MODE_RANGE) from = bar->start_value;
    else if (bar->mode == LV_BAR_MODE_SYMMETRICAL) from = LV_CLAMP(bar->min_value, 0, bar->max_value);
    int32_t to = LV_CLAMP(bar->min_value, bar->cur_value, bar->max_value);
    from = LV_CLAMP(bar->min_value, from, bar->max_value);
    bool vertical = lv_bar_is_vertical(obj);
    int32_t len = vertical ? lv_area_get_height(&base) : lv_area_get_width(&base);
    int32_t a = static_cast<int32_t>(static_cast<int64_t>(len) * (from - bar->min_value) / range);
    int32_t b = static_cast<int32_t>(static_cast<int64_t>(len) * (to - bar->min_value) / range);
    if (vertical) {
        /* The minimum is at the bottom. */
        *end = base.y2 + 1 - b;
        lv_area_set(indic, base.x1, base.y2 + 1 - LV_MAX(a, b), base.x2, base.y2 - LV_MIN(a, b));
    } else {
        *end = base.x1 + b;
        lv_area_set(indic, base.x1 + LV_MIN(a, b), base.y1, base.x1 + LV_MAX(a, b) - 1, base.y2);
    }
    return a != b && base.x1 <= base.x2 && base.y1 <= base.y2;
}

void lv_bar_draw_indicator(lv_obj_t* obj, lv_layer_t* layer)
{
    lv_area_t indic;
    int32_t end;
    if (!lv_bar_calc_indicator(obj, &indic, &end)) return;
    lv_draw_rect_dsc_t dsc;
    lv_obj_init_draw_rect_dsc(obj, LV_PART_INDICATOR, &dsc);
    /* The indicator stays inside the rounded track. */
    int32_t bg_radius = lv_obj_get_style_radius(obj, LV_PART_MAIN);
    if (bg_radius > 0) {
        dsc.has_mask = true;
        dsc.mask_area = obj->coords;
        dsc.mask_radius = bg_radius;
    }
    lv_draw_rect(layer, &dsc, &indic);
}

const lv_obj_class_t lv_bar_class = {
    &lv_obj_class, "lv_bar", LV_DPI_DEF * 2, LV_DPI_DEF / 10, create_instance, constructor, draw_main, nullptr, nullptr,
};

lv_obj_t* lv_bar_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_bar_class, parent);
}

void lv_bar_set_value(lv_obj_t* obj, int32_t value, lv_anim_enable_t anim)
{
    LV_UNUSED(anim);
    lv_bar_t* bar = as_bar(obj);
    value = LV_CLAMP(bar->min_value, value, bar->max_value);
    /* In range mode the value cannot fall below the start value: set the value first. */
    if (bar->mode == LV_BAR_MODE_RANGE && value < bar->start_value) value = bar->start_value;
    bar->cur_value = value;
    lv_obj_mark_dirty(obj);
}

void lv_bar_set_start_value(lv_obj_t* obj, int32_t start_value, lv_anim_enable_t anim)
{
    LV_UNUSED(anim);
    lv_bar_t* bar = as_bar(obj);
    if (bar->mode != LV_BAR_MODE_RANGE) return;
    bar->start_value = LV_CLAMP(bar->min_value, start_value, bar->cur_value);
    lv_obj_mark_dirty(obj);
}

void lv_bar_set_range(lv_obj_t* obj, int32_t min, int32_t max)
{
    lv_bar_t* bar = as_bar(obj);
    if (min > max) {
        int32_t t = min;
        min = max;
        max = t;
    }
    bar->min_value = min;
    bar->max_value = max;
    bar->cur_value = LV_CLAMP(min, bar->cur_value, max);
    bar->start_value = LV_CLAMP(min, bar->start_value, bar->cur_value);
    if (bar->mode != LV_BAR_MODE_RANGE) bar->start_value = min;
    lv_obj_mark_dirty(obj);
}

void lv_bar_set_mode(lv_obj_t* obj, lv_bar_mode_t mode)
{
    lv_bar_t* bar = as_bar(obj);
    bar->mode = mode;
    if (mode != LV_BAR_MODE_RANGE) bar->start_value = bar->min_value;
    lv_obj_mark_dirty(obj);
}

void lv_bar_set_orientation(lv_obj_t* obj, lv_bar_orientation_t orientation)
{
    as_bar(obj)->orientation = orientation;
    lv_obj_mark_dirty(obj);
}

int32_t lv_bar_get_value(const lv_obj_t* obj)
{
    return as_bar(obj)->cur_value;
}

int32_t lv_bar_get_start_value(const lv_obj_t* obj)
{
    lv_bar_t* bar = as_bar(obj);
    return bar->mode == LV_BAR_MODE_RANGE ? bar->start_value : bar->min_value;
}

int32_t lv_bar_get_min_value(const lv_obj_t* obj)
{
    return as_bar(obj)->min_value;
}

int32_t lv_bar_get_max_value(const lv_obj_t* obj)
{
    return as_bar(obj)->max_value;
}

lv_bar_mode_t lv_bar_get_mode(lv_obj_t* obj)
{
    return as_bar(obj)->mode;
}

lv_bar_orientation_t lv_bar_get_orientation(lv_obj_t* obj)
{
    return as_bar(obj)->orientation;
}

bool lv_bar_is_symmetrical(lv_obj_t* obj)
{
    lv_bar_t* bar = as_bar(obj);
    return bar->mode == LV_BAR_MODE_SYMMETRICAL && bar->min_value < 0 && bar->max_value > 0;
}

void lv_bar_get_indicator_area(lv_obj_t* obj, lv_area_t* area)
{
    lv_obj_update_layout(obj);
    int32_t end;
    if (!lv_bar_calc_indicator(obj, area, &end)) lv_area_set(area, 0, 0, -1, -1);
}

namespace {

lv_bar_t* as_bar(const lv_obj_t* obj)
{
    return static_cast<lv_bar_t*>(const_cast<lv_obj_t*>(obj));
}

lv_obj_t* create_instance()
{
    return new lv_bar_t();
}

void constructor(lv_obj_t* obj)
{
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_CHECKABLE);
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLLABLE);
}

void draw_main(lv_obj_t* obj, lv_layer_t* layer)
{
    lv_bar_draw_indicator(obj, layer);
}

} // namespace
