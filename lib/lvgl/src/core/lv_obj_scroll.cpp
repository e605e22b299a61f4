#include "src/core/lv_obj_private.h"

void lv_obj_set_scrollbar_mode(lv_obj_t* obj, lv_scrollbar_mode_t mode)
{
    obj->scrollbar_mode = mode;
}

lv_scrollbar_mode_t lv_obj_get_scrollbar_mode(const lv_obj_t* obj)
{
    return obj->scrollbar_mode;
}

void lv_obj_set_scroll_dir(lv_obj_t* obj, lv_dir_t dir)
{
    obj->scroll_dir = dir;
}

lv_dir_t lv_obj_get_scroll_dir(const lv_obj_t* obj)
{
    return obj->scroll_dir;
}

int32_t lv_obj_get_scroll_x(const lv_obj_t* obj)
{
    return obj->scroll_x;
}

int32_t lv_obj_get_scroll_y(const lv_obj_t* obj)
{
    return obj->scroll_y;
}

int32_t lv_obj_get_scroll_top(lv_obj_t* obj)
{
    return obj->scroll_y;
}

int32_t lv_obj_get_scroll_left(lv_obj_t* obj)
{
    return obj->scroll_x;
}

int32_t lv_obj_get_scroll_bottom(lv_obj_t* obj)
{
    lv_obj_update_layout(obj);
    int32_t child_res = LV_COORD_MIN;
    for (lv_obj_t* child : obj->children) {
        if (!(child->flags & (LV_OBJ_FLAG_HIDDEN | LV_OBJ_FLAG_FLOATING)))
            child_res = LV_MAX(child_res, child->coords.y2);
    }
    if (child_res == LV_COORD_MIN) return 0;
    int32_t limit = obj->coords.y2 - lv_obj_get_style_space_bottom(obj, LV_PART_MAIN);
    return LV_MAX(child_res - limit, 0);
}

int32_t lv_obj_get_scroll_right(lv_obj_t* obj)
{
    lv_obj_update_layout(obj);
    int32_t child_res = LV_COORD_MIN;
    for (lv_obj_t* child : obj->children) {
        if (!(child->flags & (LV_OBJ_FLAG_HIDDEN | LV_OBJ_FLAG_FLOATING)))
            child_res = LV_MAX(child_res, child->coords.x2);
    }
    if (child_res == LV_COORD_MIN) return 0;
    int32_t limit = obj->coords.x2 - lv_obj_get_style_space_right(obj, LV_PART_MAIN);
    return LV_MAX(child_res - limit, 0);
}

void lv_obj_scroll_by(lv_obj_t* obj, int32_t dx, int32_t dy, lv_anim_enable_t anim_en)
{
    LV_UNUSED(anim_en);
    if (dx == 0 && dy == 0) return;
    obj->scroll_x -= dx;
    obj->scroll_y -= dy;
    lv_obj_mark_dirty(obj);
}

void lv_obj_scroll_by_bounded(lv_obj_t* obj, int32_t dx, int32_t dy, lv_anim_enable_t anim_en)
{
    if (dx == 0 && dy == 0) return;
    /* The bounds need the children's final places. */
    lv_obj_update_layout(obj);
    int32_t x_current = -obj->scroll_x;
    int32_t x_bounded = LV_MIN(x_current + dx, 0);
    int32_t x_max = lv_obj_get_scroll_left(obj) + lv_obj_get_scroll_right(obj);
    if (x_bounded < -x_max) x_bounded = -x_max;
    int32_t y_current = -obj->scroll_y;
    int32_t y_bounded = LV_MIN(y_current + dy, 0);
    int32_t y_max = lv_obj_get_scroll_top(obj) + lv_obj_get_scroll_bottom(obj);
    if (y_bounded < -y_max) y_bounded = -y_max;
    lv_obj_scroll_by(obj, x_bounded - x_current, y_bounded - y_current, anim_en);
}

void lv_obj_scroll_to(lv_obj_t* obj, int32_t x, int32_t y, lv_anim_enable_t anim_en)
{
    lv_obj_scroll_to_x(obj, x, anim_en);
    lv_obj_scroll_to_y(obj, y, anim_en);
}

void lv_obj_scroll_to_x(lv_obj_t* obj, int32_t x, lv_anim_enable_t anim_en)
{
    lv_obj_scroll_by_bounded(obj, obj->scroll_x - x, 0, anim_en);
}

void lv_obj_scroll_to_y(lv_obj_t* obj, int32_t y, lv_anim_enable_t anim_en)
{
    lv_obj_scroll_by_bounded(obj, 0, obj->scroll_y - y, anim_en);
}
