#include "src/widgets/label/lv_label.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "src/core/lv_obj_private.h"
#include "src/draw/lv_draw.h"

namespace {

struct lv_label_t : _lv_obj_t {
    std::string text;
    const char* static_text = nullptr;
    lv_label_long_mode_t long_mode = LV_LABEL_LONG_MODE_WRAP;
    std::string drawn; /* the text as last drawn (with dots) */
};

lv_label_t* as_label(const lv_obj_t* obj);
const char* text_of(const lv_label_t* label);
lv_obj_t* create_instance();
void constructor(lv_obj_t* obj);
bool wraps(const lv_obj_t* obj);
void self_size(lv_obj_t* obj, int32_t content_w, lv_point_t* size);
void update_drawn(lv_obj_t* obj, const lv_area_t& txt);
void draw_main(lv_obj_t* obj, lv_layer_t* layer);

} // namespace

const lv_obj_class_t lv_label_class = {
    &lv_obj_class, "lv_label", LV_SIZE_CONTENT, LV_SIZE_CONTENT, create_instance,
    constructor,   draw_main,  self_size,       nullptr,
};

lv_obj_t* lv_label_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_label_class, parent);
}

void lv_label_set_text(lv_obj_t* obj, const char* text)
{
    lv_label_t* label = as_label(obj);
    if (text == nullptr) {
        if (label->static_text) label->text = label->static_text;
    } else {
        label->text = text;
    }
    label->static_text = nullptr;
    lv_obj_mark_dirty(obj);
}

void lv_label_set_text_fmt(lv_obj_t* obj, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, args);
    va_end(args);
    lv_label_set_text(obj, text.c_str());
}

void lv_label_set_text_static(lv_obj_t* obj, const char* text)
{
    lv_label_t* label = as_label(obj);
    label->static_text = text;
    if (text == nullptr) label->text.clear();
    lv_obj_mark_dirty(obj);
}

void lv_label_set_long_mode(lv_obj_t* obj, lv_label_long_mode_t long_mode)
{
    as_label(obj)->long_mode = long_mode;
    lv_obj_mark_dirty(obj);
}

const char* lv_label_get_text(const lv_obj_t* obj)
{
    return text_of(as_label(obj));
}

lv_label_long_mode_t lv_label_get_long_mode(const lv_obj_t* obj)
{
    return as_label(obj)->long_mode;
}

const char* lv_label_get_text_drawn(lv_obj_t* obj)
{
    lv_area_t txt;
    lv_obj_get_content_coords(obj, &txt);
    update_drawn(obj, txt);
    return as_label(obj)->drawn.c_str();
}

namespace {

lv_label_t* as_label(const lv_obj_t* obj)
{
    return static_cast<lv_label_t*>(const_cast<lv_obj_t*>(obj));
}

const char* text_of(const lv_label_t* label)
{
    return label->static_text ? label->static_text : label->text.c_str();
}

lv_obj_t* create_instance()
{
    return new lv_label_t();
}

void constructor(lv_obj_t* obj)
{
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_CLICKABLE);
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLLABLE);
    as_label(obj)->text = "Text";
}

/* Wrapping is off for content width and for the scrolling modes. */
bool wraps(const lv_obj_t* obj)
{
    lv_label_long_mode_t mode = as_label(obj)->long_mode;
    if (mode == LV_LABEL_LONG_MODE_SCROLL || mode == LV_LABEL_LONG_MODE_SCROLL_CIRCULAR) return false;
    return lv_obj_get_style_width(obj, LV_PART_MAIN) != LV_SIZE_CONTENT;
}

void self_size(lv_obj_t* obj, int32_t content_w, lv_point_t* size)
{
    const lv_font_t* font = lv_obj_get_style_text_font(obj, LV_PART_MAIN);
    int32_t letter_space = lv_obj_get_style_text_letter_space(obj, LV_PART_MAIN);
    int32_t line_space = lv_obj_get_style_text_line_space(obj, LV_PART_MAIN);
    int32_t max_w = (content_w >= 0 && wraps(obj)) ? content_w : LV_COORD_MAX;
    lv_text_get_size(size, text_of(as_label(obj)), font, letter_space, line_space, max_w, LV_TEXT_FLAG_NONE);
}

void update_drawn(lv_obj_t* obj, const lv_area_t& txt)
{
    lv_label_t* label = as_label(obj);
    const char* text = text_of(label);
    if (label->long_mode == LV_LABEL_LONG_MODE_DOTS && wraps(obj)) {
        label->drawn = lv_text_with_dots(
            text, lv_obj_get_style_text_font(obj, LV_PART_MAIN), lv_obj_get_style_text_letter_space(obj, LV_PART_MAIN),
            lv_obj_get_style_text_line_space(obj, LV_PART_MAIN), lv_area_get_width(&txt), lv_area_get_height(&txt));
    } else {
        label->drawn = text;
    }
}

void draw_main(lv_obj_t* obj, lv_layer_t* layer)
{
    lv_area_t txt;
    lv_obj_get_content_coords(obj, &txt);
    update_drawn(obj, txt);
    lv_draw_label_dsc_t dsc;
    lv_obj_init_draw_label_dsc(obj, LV_PART_MAIN, &dsc);
    dsc.wrap = wraps(obj);
    /* The text never leaves the label's content area. */
    lv_area_t saved = layer->clip;
    if (lv_area_intersect(&layer->clip, &saved, &txt)) lv_draw_label(layer, &dsc, &txt, as_label(obj)->drawn.c_str());
    layer->clip = saved;
}

} // namespace
