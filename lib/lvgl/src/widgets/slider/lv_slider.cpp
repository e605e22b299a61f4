#include "src/widgets/slider/lv_slider.h"

#include "src/draw/lv_draw.h"
#include "src/widgets/bar/lv_bar_private.h"

namespace {

lv_bar_t* as_bar(const lv_obj_t* obj);
void constructor(lv_obj_t* obj);
void knob_area(lv_obj_t* obj, lv_area_t* area);
void draw_main(lv_obj_t* obj, lv_layer_t* layer);

} // namespace

const lv_obj_class_t lv_slider_class = {
    &lv_bar_class, "lv_slider", LV_DPI_DEF * 2, LV_DPI_DEF / 10, nullptr, constructor, draw_main, nullptr, nullptr,
};

lv_obj_t* lv_slider_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_slider_class, parent);
}

void lv_slider_set_value(lv_obj_t* obj, int32_t value, lv_anim_enable_t anim)
{
    lv_bar_set_value(obj, value, anim);
}

void lv_slider_set_start_value(lv_obj_t* obj, int32_t value, lv_anim_enable_t anim)
{
    lv_bar_set_start_value(obj, value, anim);
}

void lv_slider_set_range(lv_obj_t* obj, int32_t min, int32_t max)
{
    lv_bar_set_range(obj, min, max);
}

void lv_slider_set_mode(lv_obj_t* obj, lv_slider_mode_t mode)
{
    lv_bar_set_mode(obj, static_cast<lv_bar_mode_t>(mode));
}

int32_t lv_slider_get_value(const lv_obj_t* obj)
{
    return lv_bar_get_value(obj);
}

int32_t lv_slider_get_left_value(const lv_obj_t* obj)
{
    return lv_bar_get_start_value(obj);
}

int32_t lv_slider_get_min_value(const lv_obj_t* obj)
{
    return as_bar(obj)->min_value;
}

int32_t lv_slider_get_max_value(const lv_obj_t* obj)
{
    return as_bar(obj)->max_value;
}

void lv_slider_get_knob_area(lv_obj_t* obj, lv_area_t* area)
{
    lv_obj_update_layout(obj);
    knob_area(obj, area);
}

namespace {

lv_bar_t* as_bar(const lv_obj_t* obj)
{
    return static_cast<lv_bar_t*>(const_cast<lv_obj_t*>(obj));
}

void constructor(lv_obj_t* obj)
{
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLL_CHAIN);
    lv_obj_add_flag(obj, LV_OBJ_FLAG_SCROLL_ON_FOCUS);
}

/* A square as thick as the track, centred on the value, grown by the knob's padding. */
void knob_area(lv_obj_t* obj, lv_area_t* area)
{
    lv_area_t indic;
    int32_t end;
    lv_bar_calc_indicator(obj, &indic, &end);
    const lv_area_t& c = obj->coords;
    if (lv_bar_is_vertical(obj)) {
        int32_t size = lv_area_get_width(&c);
        lv_area_set(area, c.x1, end - size / 2, c.x2, end - size / 2 + size - 1);
    } else {
        int32_t size = lv_area_get_height(&c);
        lv_area_set(area, end - size / 2, c.y1, end - size / 2 + size - 1, c.y2);
    }
    area->x1 -= lv_obj_get_style_pad_left(obj, LV_PART_KNOB);
    area->x2 += lv_obj_get_style_pad_right(obj, LV_PART_KNOB);
    area->y1 -= lv_obj_get_style_pad_top(obj, LV_PART_KNOB);
    area->y2 += lv_obj_get_style_pad_bottom(obj, LV_PART_KNOB);
}

void draw_main(lv_obj_t* obj, lv_layer_t* layer)
{
    lv_bar_draw_indicator(obj, layer);
    lv_area_t knob;
    knob_area(obj, &knob);
    lv_draw_rect_dsc_t dsc;
    lv_obj_init_draw_rect_dsc(obj, LV_PART_KNOB, &dsc);
    lv_draw_rect(layer, &dsc, &knob);
}

} // namespace
