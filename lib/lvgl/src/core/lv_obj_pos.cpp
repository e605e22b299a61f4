#include "src/core/lv_obj_private.h"

#include "src/display/lv_display_private.h"

namespace {

int32_t resolve(int32_t v, int32_t parent_content);
bool counts_for_content(const lv_obj_t* child);
int32_t natural_width(const lv_obj_t* obj);
int32_t natural_height(const lv_obj_t* obj);
int32_t content_width(const lv_obj_t* obj);
int32_t content_height(const lv_obj_t* obj, int32_t width);
void layout_children(lv_obj_t* obj);
void set_local(lv_obj_t* obj, lv_style_prop_t prop, int32_t value);

} // namespace

void lv_obj_layout_place(lv_obj_t* child, int32_t x, int32_t y, int32_t w, int32_t h)
{
    lv_obj_t* parent = child->parent;
    child->x_rel = x;
    child->y_rel = y;
    int32_t ax = parent->coords.x1 + lv_obj_get_style_space_left(parent, LV_PART_MAIN) - parent->scroll_x + x;
    int32_t ay = parent->coords.y1 + lv_obj_get_style_space_top(parent, LV_PART_MAIN) - parent->scroll_y + y;
    lv_area_set(&child->coords, ax, ay, ax + w - 1, ay + h - 1);
    layout_children(child);
}

int32_t lv_obj_content_height_for(const lv_obj_t* obj, int32_t width)
{
    return content_height(obj, width);
}

void lv_obj_layout_screen(lv_obj_t* screen)
{
    lv_display_t* disp = screen->disp;
    int32_t w = disp ? lv_display_get_horizontal_resolution(disp) : lv_area_get_width(&screen->coords);
    int32_t h = disp ? lv_display_get_vertical_resolution(disp) : lv_area_get_height(&screen->coords);
    lv_area_set(&screen->coords, 0, 0, w - 1, h - 1);
    layout_children(screen);
}

void lv_obj_set_pos(lv_obj_t* obj, int32_t x, int32_t y)
{
    set_local(obj, LV_STYLE_X, x);
    set_local(obj, LV_STYLE_Y, y);
}

void lv_obj_set_x(lv_obj_t* obj, int32_t x)
{
    set_local(obj, LV_STYLE_X, x);
}

void lv_obj_set_y(lv_obj_t* obj, int32_t y)
{
    set_local(obj, LV_STYLE_Y, y);
}

void lv_obj_set_size(lv_obj_t* obj, int32_t w, int32_t h)
{
    set_local(obj, LV_STYLE_WIDTH, w);
    set_local(obj, LV_STYLE_HEIGHT, h);
}

void lv_obj_set_width(lv_obj_t* obj, int32_t w)
{
    set_local(obj, LV_STYLE_WIDTH, w);
}

void lv_obj_set_height(lv_obj_t* obj, int32_t h)
{
    set_local(obj, LV_STYLE_HEIGHT, h);
}

void lv_obj_set_align(lv_obj_t* obj, lv_align_t align)
{
    set_local(obj, LV_STYLE_ALIGN, align);
}

void lv_obj_align(lv_obj_t* obj, lv_align_t align, int32_t x_ofs, int32_t y_ofs)
{
    set_local(obj, LV_STYLE_ALIGN, align);
    lv_obj_set_pos(obj, x_ofs, y_ofs);
}

void lv_obj_center(lv_obj_t* obj)
{
    lv_obj_align(obj, LV_ALIGN_CENTER, 0, 0);
}

void lv_obj_update_layout(const lv_obj_t* obj)
{
    if (obj == nullptr) return;
    lv_obj_t* screen = lv_obj_get_screen(obj);
    lv_display_t* disp = screen->disp;
    if (disp == nullptr || lv_display_take_layout_request(disp)) lv_obj_layout_screen(screen);
}

void lv_obj_get_coords(const lv_obj_t* obj, lv_area_t* coords)
{
    lv_obj_update_layout(obj);
    *coords = obj->coords;
}

int32_t lv_obj_get_x(const lv_obj_t* obj)
{
    lv_obj_update_layout(obj);
    return obj->x_rel;
}

int32_t lv_obj_get_y(const lv_obj_t* obj)
{
    lv_obj_update_layout(obj);
    return obj->y_rel;
}

int32_t lv_obj_get_x2(const lv_obj_t* obj)
{
    return lv_obj_get_x(obj) + lv_obj_get_width(obj) - 1;
}

int32_t lv_obj_get_y2(const lv_obj_t* obj)
{
    return lv_obj_get_y(obj) + lv_obj_get_height(obj) - 1;
}

int32_t lv_obj_get_width(const lv_obj_t* obj)
{
    lv_obj_update_layout(obj);
    return lv_area_get_width(&obj->coords);
}

int32_t lv_obj_get_height(const lv_obj_t* obj)
{
    lv_obj_update_layout(obj);
    return lv_area_get_height(&obj->coords);
}

void lv_obj_get_content_coords(const lv_obj_t* obj, lv_area_t* area)
{
    lv_obj_update_layout(obj);
    area->x1 = obj->coords.x1 + lv_obj_get_style_space_left(obj, LV_PART_MAIN);
    area->y1 = obj->coords.y1 + lv_obj_get_style_space_top(obj, LV_PART_MAIN);
    area->x2 = obj->coords.x2 - lv_obj_get_style_space_right(obj, LV_PART_MAIN);
    area->y2 = obj->coords.y2 - lv_obj_get_style_space_bottom(obj, LV_PART_MAIN);
}

int32_t lv_obj_get_content_width(const lv_obj_t* obj)
{
    lv_area_t a;
    lv_obj_get_content_coords(obj, &a);
    return lv_area_get_width(&a);
}

int32_t lv_obj_get_content_height(const lv_obj_t* obj)
{
    lv_area_t a;
    lv_obj_get_content_coords(obj, &a);
    return lv_area_get_height(&a);
}

namespace {

int32_t resolve(int32_t v, int32_t parent_content)
{
    if (LV_COORD_IS_PCT(v)) return parent_content * LV_COORD_GET_PCT(v) / 100;
    if (LV_COORD_IS_SPEC(v)) return 0;
    return v;
}

bool counts_for_content(const lv_obj_t* child)
{
    return !(child->flags & (LV_OBJ_FLAG_HIDDEN | LV_OBJ_FLAG_FLOATING | LV_OBJ_FLAG_IGNORE_LAYOUT));
}

/* Width a child asks for without knowing its parent's size (percentages count as 0). */
int32_t natural_width(const lv_obj_t* obj)
{
    int32_t w = lv_obj_get_style_width(obj, LV_PART_MAIN);
    if (w == LV_SIZE_CONTENT) return content_width(obj);
    return resolve(w, 0);
}

int32_t natural_height(const lv_obj_t* obj)
{
    int32_t h = lv_obj_get_style_height(obj, LV_PART_MAIN);
    if (h == LV_SIZE_CONTENT) return content_height(obj, natural_width(obj));
    return resolve(h, 0);
}

int32_t content_width(const lv_obj_t* obj)
{
    int32_t self = 0;
    if (auto cb = lv_obj_class_find_cb(obj->class_p, &lv_obj_class_t::self_size_cb)) {
        lv_point_t p = {0, 0};
        cb(const_cast<lv_obj_t*>(obj), -1, &p);
        self = p.x;
    }
    int32_t ext = 0;
    for (const lv_obj_t* child : obj->children) {
        if (!counts_for_content(child)) continue;
        int32_t x = resolve(lv_obj_get_style_x(child, LV_PART_MAIN), 0);
        ext = LV_MAX(ext, x + natural_width(child));
    }
    return LV_MAX(self, ext) + lv_obj_get_style_space_left(obj, LV_PART_MAIN) +
           lv_obj_get_style_space_right(obj, LV_PART_MAIN);
}

int32_t content_height(const lv_obj_t* obj, int32_t width)
{
    int32_t inner_w =
        width - lv_obj_get_style_space_left(obj, LV_PART_MAIN) - lv_obj_get_style_space_right(obj, LV_PART_MAIN);
    int32_t self = 0;
    if (auto cb = lv_obj_class_find_cb(obj->class_p, &lv_obj_class_t::self_size_cb)) {
        lv_point_t p = {0, 0};
        bool fixed_w = lv_obj_get_style_width(obj, LV_PART_MAIN) != LV_SIZE_CONTENT;
        cb(const_cast<lv_obj_t*>(obj), fixed_w ? inner_w : -1, &p);
        self = p.y;
    }
    int32_t ext = 0;
    for (const lv_obj_t* child : obj->children) {
        if (!counts_for_content(child)) continue;
        int32_t y = resolve(lv_obj_get_style_y(child, LV_PART_MAIN), 0);
        ext = LV_MAX(ext, y + natural_height(child));
    }
    return LV_MAX(self, ext) + lv_obj_get_style_space_top(obj, LV_PART_MAIN) +
           lv_obj_get_style_space_bottom(obj, LV_PART_MAIN);
}

void layout_children(lv_obj_t* obj)
{
    if (auto cb = lv_obj_class_find_cb(obj->class_p, &lv_obj_class_t::layout_cb)) cb(obj);
    int32_t left = lv_obj_get_style_space_left(obj, LV_PART_MAIN);
    int32_t top = lv_obj_get_style_space_top(obj, LV_PART_MAIN);
    int32_t pw = lv_area_get_width(&obj->coords) - left - lv_obj_get_style_space_right(obj, LV_PART_MAIN);
    int32_t ph = lv_area_get_height(&obj->coords) - top - lv_obj_get_style_space_bottom(obj, LV_PART_MAIN);
    for (lv_obj_t* child : obj->children) {
        if (child->placed_by_parent) continue;
        int32_t sw = lv_obj_get_style_width(child, LV_PART_MAIN);
        int32_t sh = lv_obj_get_style_height(child, LV_PART_MAIN);
        int32_t w = sw == LV_SIZE_CONTENT ? content_width(child) : resolve(sw, pw);
        int32_t h = sh == LV_SIZE_CONTENT ? content_height(child, w) : resolve(sh, ph);
        int32_t x = resolve(lv_obj_get_style_x(child, LV_PART_MAIN), pw);
        int32_t y = resolve(lv_obj_get_style_y(child, LV_PART_MAIN), ph);
        switch (lv_obj_get_style_align(child, LV_PART_MAIN)) {
        case LV_ALIGN_TOP_MID: x += pw / 2 - w / 2; break;
        case LV_ALIGN_TOP_RIGHT: x += pw - w; break;
        case LV_ALIGN_BOTTOM_LEFT: y += ph - h; break;
        case LV_ALIGN_BOTTOM_MID:
            x += pw / 2 - w / 2;
            y += ph - h;
            break;
        case LV_ALIGN_BOTTOM_RIGHT:
            x += pw - w;
            y += ph - h;
            break;
        case LV_ALIGN_LEFT_MID: y += ph / 2 - h / 2; break;
        case LV_ALIGN_RIGHT_MID:
            x += pw - w;
            y += ph / 2 - h / 2;
            break;
        case LV_ALIGN_CENTER:
            x += pw / 2 - w / 2;
            y += ph / 2 - h / 2;
            break;
        default: break;
        }
        child->x_rel = x;
        child->y_rel = y;
        int32_t ax = obj->coords.x1 + left - obj->scroll_x + x;
        int32_t ay = obj->coords.y1 + top - obj->scroll_y + y;
        if (child->flags & LV_OBJ_FLAG_FLOATING) {
            ax = obj->coords.x1 + left + x;
            ay = obj->coords.y1 + top + y;
        }
        lv_area_set(&child->coords, ax, ay, ax + w - 1, ay + h - 1);
        layout_children(child);
    }
}

void set_local(lv_obj_t* obj, lv_style_prop_t prop, int32_t value)
{
    lv_style_value_t v = {};
    v.num = value;
    lv_obj_set_local_style_prop(obj, prop, v, LV_PART_MAIN);
}

} // namespace
