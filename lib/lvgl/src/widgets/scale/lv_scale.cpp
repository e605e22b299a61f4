#include "src/widgets/scale/lv_scale.h"

#include <cstdio>

#include "src/core/lv_obj_private.h"
#include "src/draw/lv_draw.h"

namespace {

/* Gap between the end of a major tick and its label. */
constexpr int32_t kLabelGap = 2;

struct lv_scale_t : _lv_obj_t {
    lv_scale_mode_t mode = LV_SCALE_MODE_HORIZONTAL_BOTTOM;
    int32_t total_tick_count = 11;
    int32_t major_tick_every = 5;
    bool label_enabled = true;
    int32_t range_min = 0;
    int32_t range_max = 100;
    const char** txt_src = nullptr;
};

lv_scale_t* as_scale(const lv_obj_t* obj);
lv_obj_t* create_instance();
void constructor(lv_obj_t* obj);
const char* label_text(lv_scale_t* scale, int32_t tick, int32_t major_index, char* buf, size_t size);
void draw_main(lv_obj_t* obj, lv_layer_t* layer);

} // namespace

const lv_obj_class_t lv_scale_class = {
    &lv_obj_class, "lv_scale", LV_DPI_DEF * 2, LV_DPI_DEF / 2, create_instance,
    constructor,   draw_main,  nullptr,        nullptr,
};

lv_obj_t* lv_scale_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_scale_class, parent);
}

void lv_scale_set_mode(lv_obj_t* obj, lv_scale_mode_t mode)
{
    as_scale(obj)->mode = mode;
    lv_obj_mark_dirty(obj);
}

void lv_scale_set_total_tick_count(lv_obj_t* obj, uint32_t total_tick_count)
{
    as_scale(obj)->total_tick_count = static_cast<int32_t>(total_tick_count);
    lv_obj_mark_dirty(obj);
}

void lv_scale_set_major_tick_every(lv_obj_t* obj, uint32_t major_tick_every)
{
    as_scale(obj)->major_tick_every = static_cast<int32_t>(major_tick_every);
    lv_obj_mark_dirty(obj);
}

void lv_scale_set_label_show(lv_obj_t* obj, bool show_label)
{
    as_scale(obj)->label_enabled = show_label;
    lv_obj_mark_dirty(obj);
}

void lv_scale_set_range(lv_obj_t* obj, int32_t min, int32_t max)
{
    as_scale(obj)->range_min = min;
    as_scale(obj)->range_max = max;
    lv_obj_mark_dirty(obj);
}

void lv_scale_set_text_src(lv_obj_t* obj, const char* txt_src[])
{
    as_scale(obj)->txt_src = txt_src;
    lv_obj_mark_dirty(obj);
}

lv_scale_mode_t lv_scale_get_mode(lv_obj_t* obj)
{
    return as_scale(obj)->mode;
}

int32_t lv_scale_get_total_tick_count(lv_obj_t* obj)
{
    return as_scale(obj)->total_tick_count;
}

int32_t lv_scale_get_major_tick_every(lv_obj_t* obj)
{
    return as_scale(obj)->major_tick_every;
}

bool lv_scale_get_label_show(lv_obj_t* obj)
{
    return as_scale(obj)->label_enabled;
}

int32_t lv_scale_get_range_min_value(lv_obj_t* obj)
{
    return as_scale(obj)->range_min;
}

int32_t lv_scale_get_range_max_value(lv_obj_t* obj)
{
    return as_scale(obj)->range_max;
}

namespace {

lv_scale_t* as_scale(const lv_obj_t* obj)
{
    return static_cast<lv_scale_t*>(const_cast<lv_obj_t*>(obj));
}

lv_obj_t* create_instance()
{
    return new lv_scale_t();
}

void constructor(lv_obj_t* obj)
{
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLLABLE);
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_CLICKABLE);
}

const char* label_text(lv_scale_t* scale, int32_t tick, int32_t major_index, char* buf, size_t size)
{
    if (scale->txt_src) {
        for (int32_t i = 0; i <= major_index; i++) {
            if (scale->txt_src[i] == nullptr) return nullptr;
        }
        return scale->txt_src[major_index];
    }
    int32_t n = LV_MAX(scale->total_tick_count - 1, 1);
    int32_t value = scale->range_min + (scale->range_max - scale->range_min) * tick / n;
    std::snprintf(buf, size, "%d", static_cast<int>(value));
    return buf;
}

void draw_main(lv_obj_t* obj, lv_layer_t* layer)
{
    lv_scale_t* scale = as_scale(obj);
    if (scale->mode != LV_SCALE_MODE_HORIZONTAL_TOP && scale->mode != LV_SCALE_MODE_HORIZONTAL_BOTTOM &&
        scale->mode != LV_SCALE_MODE_VERTICAL_LEFT && scale->mode != LV_SCALE_MODE_VERTICAL_RIGHT) {
        return; /* round scales are not drawn by this layer */
    }
    lv_area_t c;
    lv_obj_get_content_coords(obj, &c);
    bool horizontal = scale->mode == LV_SCALE_MODE_HORIZONTAL_TOP || scale->mode == LV_SCALE_MODE_HORIZONTAL_BOTTOM;
    /* Ticks grow from the main line towards +1 (down / right) or -1. */
    int32_t dir =
        (scale->mode == LV_SCALE_MODE_HORIZONTAL_BOTTOM || scale->mode == LV_SCALE_MODE_VERTICAL_RIGHT) ? 1 : -1;
    int32_t base;
    if (horizontal) base = dir > 0 ? c.y1 : c.y2;
    else base = dir > 0 ? c.x1 : c.x2;

    lv_draw_line_dsc_t main_line;
    lv_obj_init_draw_line_dsc(obj, LV_PART_MAIN, &main_line);
    if (horizontal) {
        main_line.p1 = {c.x1, base};
        main_line.p2 = {c.x2, base};
    } else {
        main_line.p1 = {base, c.y1};
        main_line.p2 = {base, c.y2};
    }
    lv_draw_line(layer, &main_line);

    lv_draw_line_dsc_t minor, major;
    lv_obj_init_draw_line_dsc(obj, LV_PART_ITEMS, &minor);
    lv_obj_init_draw_line_dsc(obj, LV_PART_INDICATOR, &major);
    int32_t minor_len = lv_obj_get_style_length(obj, LV_PART_ITEMS);
    int32_t major_len = lv_obj_get_style_length(obj, LV_PART_INDICATOR);
    lv_draw_label_dsc_t label;
    lv_obj_init_draw_label_dsc(obj, LV_PART_INDICATOR, &label);
    label.wrap = false;
    label.align = LV_TEXT_ALIGN_LEFT;

    int32_t n = scale->total_tick_count;
    int32_t span = horizontal ? c.x2 - c.x1 : c.y2 - c.y1;
    int32_t major_index = 0;
    for (int32_t i = 0; i < n; i++) {
        /* Vertical scales have the minimum at the bottom. */
        int32_t along = n > 1 ? span * i / (n - 1) : 0;
        int32_t pos = horizontal ? c.x1 + along : c.y2 - along;
        bool is_major = scale->major_tick_every > 0 && i % scale->major_tick_every == 0;
        lv_draw_line_dsc_t tick = is_major ? major : minor;
        int32_t len = is_major ? major_len : minor_len;
        if (len > 0) {
            if (horizontal) {
                tick.p1 = {pos, base};
                tick.p2 = {pos, base + dir * (len - 1)};
            } else {
                tick.p1 = {base, pos};
                tick.p2 = {base + dir * (len - 1), pos};
            }
            lv_draw_line(layer, &tick);
        }
        if (!is_major) continue;
        char buf[16];
        const char* text = scale->label_enabled ? label_text(scale, i, major_index, buf, sizeof(buf)) : nullptr;
        major_index++;
        if (text == nullptr) continue;
        lv_point_t size;
        lv_text_get_size(&size, text, label.font, label.letter_space, 0, LV_COORD_MAX, LV_TEXT_FLAG_EXPAND);
        lv_area_t area;
        if (horizontal) {
            int32_t y = dir > 0 ? base + major_len + kLabelGap : base - major_len - kLabelGap - size.y;
            lv_area_set(&area, pos - size.x / 2, y, pos - size.x / 2 + size.x - 1, y + size.y - 1);
        } else {
            int32_t x = dir > 0 ? base + major_len + kLabelGap : base - major_len - kLabelGap - size.x;
            lv_area_set(&area, x, pos - size.y / 2, x + size.x - 1, pos - size.y / 2 + size.y - 1);
        }
        lv_draw_label(layer, &label, &area, text);
    }
}

} // namespace
