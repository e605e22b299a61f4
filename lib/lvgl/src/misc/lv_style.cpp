#include "src/misc/lv_style.h"

#include <vector>

#include "src/core/lv_obj_private.h"

namespace {

/* Marks a style that lv_style_init has prepared (an uninitialised style is refused). */
constexpr uint32_t kStyleSentinel = 0xAABBCCDD;

struct StyleProp {
    lv_style_prop_t prop;
    lv_style_value_t value;
};

using PropList = std::vector<StyleProp>;

PropList* props_of(const lv_style_t* style)
{
    return static_cast<PropList*>(style->values_and_props);
}

} // namespace

void lv_style_init(lv_style_t* style)
{
    style->values_and_props = nullptr;
    style->sentinel = kStyleSentinel;
}

void lv_style_reset(lv_style_t* style)
{
    delete props_of(style);
    lv_style_init(style);
}

void lv_style_set_prop(lv_style_t* style, lv_style_prop_t prop, lv_style_value_t value)
{
    if (style == nullptr || style->sentinel != kStyleSentinel) return;
    if (style->values_and_props == nullptr) style->values_and_props = new PropList();
    PropList* list = props_of(style);
    for (auto& p : *list) {
        if (p.prop == prop) {
            p.value = value;
            lv_obj_report_style_change(style);
            return;
        }
    }
    list->push_back({prop, value});
    lv_obj_report_style_change(style);
}

lv_style_res_t lv_style_get_prop(const lv_style_t* style, lv_style_prop_t prop, lv_style_value_t* value)
{
    if (style == nullptr || style->values_and_props == nullptr) return LV_STYLE_RES_NOT_FOUND;
    for (const auto& p : *props_of(style)) {
        if (p.prop == prop) {
            *value = p.value;
            return LV_STYLE_RES_FOUND;
        }
    }
    return LV_STYLE_RES_NOT_FOUND;
}

bool lv_style_remove_prop(lv_style_t* style, lv_style_prop_t prop)
{
    if (style == nullptr || style->values_and_props == nullptr) return false;
    PropList* list = props_of(style);
    for (auto it = list->begin(); it != list->end(); ++it) {
        if (it->prop == prop) {
            list->erase(it);
            lv_obj_report_style_change(style);
            return true;
        }
    }
    return false;
}

bool lv_style_is_empty(const lv_style_t* style)
{
    return style == nullptr || style->values_and_props == nullptr || props_of(style)->empty();
}

void lv_style_set_pad_all(lv_style_t* style, int32_t value)
{
    lv_style_set_pad_left(style, value);
    lv_style_set_pad_right(style, value);
    lv_style_set_pad_top(style, value);
    lv_style_set_pad_bottom(style, value);
}

void lv_style_set_pad_hor(lv_style_t* style, int32_t value)
{
    lv_style_set_pad_left(style, value);
    lv_style_set_pad_right(style, value);
}

void lv_style_set_pad_ver(lv_style_t* style, int32_t value)
{
    lv_style_set_pad_top(style, value);
    lv_style_set_pad_bottom(style, value);
}

void lv_style_set_pad_gap(lv_style_t* style, int32_t value)
{
    lv_style_set_pad_row(style, value);
    lv_style_set_pad_column(style, value);
}

void lv_style_set_size(lv_style_t* style, int32_t width, int32_t height)
{
    lv_style_set_width(style, width);
    lv_style_set_height(style, height);
}
