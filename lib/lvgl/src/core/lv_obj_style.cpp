#include "src/core/lv_obj_private.h"

#include <algorithm>

#include "src/display/lv_display_private.h"

namespace {

bool find_own(const lv_obj_t* obj, lv_part_t part, lv_style_prop_t prop, lv_style_value_t* out);
bool selector_matches(lv_style_selector_t entry, lv_style_selector_t wanted);
void free_local(lv_obj_style_entry_t& entry);

} // namespace

_lv_obj_t::~_lv_obj_t()
{
    for (auto& entry : styles) free_local(entry);
}

void lv_obj_add_style(lv_obj_t* obj, const lv_style_t* style, lv_style_selector_t selector)
{
    if (obj == nullptr || style == nullptr) return;
    /* Newer styles take precedence over older ones, but never over local values. */
    auto first_shared =
        std::find_if(obj->styles.begin(), obj->styles.end(), [](const lv_obj_style_entry_t& e) { return !e.is_local; });
    obj->styles.insert(first_shared, {style, selector, false});
    lv_obj_mark_dirty(obj);
}

void lv_obj_remove_style(lv_obj_t* obj, const lv_style_t* style, lv_style_selector_t selector)
{
    auto& list = obj->styles;
    for (auto it = list.begin(); it != list.end();) {
        bool style_ok = style == nullptr || it->style == style;
        if (style_ok && selector_matches(it->selector, selector)) {
            free_local(*it);
            it = list.erase(it);
        } else {
            ++it;
        }
    }
    lv_obj_mark_dirty(obj);
}

void lv_obj_remove_style_all(lv_obj_t* obj)
{
    lv_obj_remove_style(obj, nullptr, LV_PART_ANY | LV_STATE_ANY);
}

void lv_obj_report_style_change(lv_style_t* style)
{
    LV_UNUSED(style);
    for (lv_display_t* disp = lv_display_get_next(nullptr); disp; disp = lv_display_get_next(disp)) {
        lv_display_mark_dirty(disp);
    }
}

void lv_obj_set_local_style_prop(lv_obj_t* obj, lv_style_prop_t prop, lv_style_value_t value,
                                 lv_style_selector_t selector)
{
    if (obj == nullptr) return;
    lv_style_t* local = nullptr;
    for (auto& entry : obj->styles) {
        if (entry.is_local && entry.selector == selector) {
            local = const_cast<lv_style_t*>(entry.style);
            break;
        }
    }
    if (local == nullptr) {
        local = new lv_style_t;
        lv_style_init(local);
        obj->styles.insert(obj->styles.begin(), {local, selector, true});
    }
    lv_style_set_prop(local, prop, value);
    lv_obj_mark_dirty(obj);
}

lv_style_value_t lv_obj_get_style_prop(const lv_obj_t* obj, lv_part_t part, lv_style_prop_t prop)
{
    bool inherit = lv_style_prop_has_flag_inherit(prop);
    lv_style_value_t v;
    while (obj) {
        if (find_own(obj, part, prop, &v)) return v;
        if (!inherit) break;
        if (part != LV_PART_MAIN) {
            part = LV_PART_MAIN;
            continue;
        }
        obj = obj->parent;
    }
    return lv_style_prop_get_default(prop);
}

void lv_obj_set_style_pad_all(lv_obj_t* obj, int32_t value, lv_style_selector_t selector)
{
    lv_obj_set_style_pad_left(obj, value, selector);
    lv_obj_set_style_pad_right(obj, value, selector);
    lv_obj_set_style_pad_top(obj, value, selector);
    lv_obj_set_style_pad_bottom(obj, value, selector);
}

void lv_obj_set_style_pad_hor(lv_obj_t* obj, int32_t value, lv_style_selector_t selector)
{
    lv_obj_set_style_pad_left(obj, value, selector);
    lv_obj_set_style_pad_right(obj, value, selector);
}

void lv_obj_set_style_pad_ver(lv_obj_t* obj, int32_t value, lv_style_selector_t selector)
{
    lv_obj_set_style_pad_top(obj, value, selector);
    lv_obj_set_style_pad_bottom(obj, value, selector);
}

void lv_obj_set_style_pad_gap(lv_obj_t* obj, int32_t value, lv_style_selector_t selector)
{
    lv_obj_set_style_pad_row(obj, value, selector);
    lv_obj_set_style_pad_column(obj, value, selector);
}

void lv_obj_set_style_size(lv_obj_t* obj, int32_t width, int32_t height, lv_style_selector_t selector)
{
    lv_obj_set_style_width(obj, width, selector);
    lv_obj_set_style_height(obj, height, selector);
}

static int32_t space(const lv_obj_t* obj, lv_part_t part, int32_t pad, lv_border_side_t side)
{
    lv_border_side_t sides = lv_obj_get_style_border_side(obj, part);
    return (sides & side) ? pad + lv_obj_get_style_border_width(obj, part) : pad;
}

int32_t lv_obj_get_style_space_left(const lv_obj_t* obj, lv_part_t part)
{
    return space(obj, part, lv_obj_get_style_pad_left(obj, part), LV_BORDER_SIDE_LEFT);
}

int32_t lv_obj_get_style_space_right(const lv_obj_t* obj, lv_part_t part)
{
    return space(obj, part, lv_obj_get_style_pad_right(obj, part), LV_BORDER_SIDE_RIGHT);
}

int32_t lv_obj_get_style_space_top(const lv_obj_t* obj, lv_part_t part)
{
    return space(obj, part, lv_obj_get_style_pad_top(obj, part), LV_BORDER_SIDE_TOP);
}

int32_t lv_obj_get_style_space_bottom(const lv_obj_t* obj, lv_part_t part)
{
    return space(obj, part, lv_obj_get_style_pad_bottom(obj, part), LV_BORDER_SIDE_BOTTOM);
}

namespace {

/* Finds the value for a part in the object's own styles; the entry for the most specific
 * state that the object is in wins, the first in the list among equals. */
bool find_own(const lv_obj_t* obj, lv_part_t part, lv_style_prop_t prop, lv_style_value_t* out)
{
    int32_t best = -1;
    for (const auto& entry : obj->styles) {
        lv_part_t part_act = lv_obj_style_get_selector_part(entry.selector);
        lv_state_t state_act = lv_obj_style_get_selector_state(entry.selector);
        if (part_act != part) continue;
        if (state_act & ~obj->state) continue;
        if (static_cast<int32_t>(state_act) <= best) continue;
        lv_style_value_t v;
        if (lv_style_get_prop(entry.style, prop, &v) == LV_STYLE_RES_FOUND) {
            *out = v;
            best = static_cast<int32_t>(state_act);
        }
    }
    return best >= 0;
}

bool selector_matches(lv_style_selector_t entry, lv_style_selector_t wanted)
{
    lv_part_t part = lv_obj_style_get_selector_part(wanted);
    lv_state_t state = lv_obj_style_get_selector_state(wanted);
    bool part_ok = part == LV_PART_ANY || part == lv_obj_style_get_selector_part(entry);
    bool state_ok = state == LV_STATE_ANY || state == lv_obj_style_get_selector_state(entry);
    return part_ok && state_ok;
}

void free_local(lv_obj_style_entry_t& entry)
{
    if (!entry.is_local) return;
    lv_style_t* style = const_cast<lv_style_t*>(entry.style);
    lv_style_reset(style);
    delete style;
}

} // namespace
