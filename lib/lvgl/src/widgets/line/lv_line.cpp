#include "src/widgets/line/lv_line.h"

#include <vector>

#include "src/core/lv_obj_private.h"
#include "src/draw/lv_draw.h"

namespace {

struct lv_line_t : _lv_obj_t {
    /* A copy, so that a caller's temporary array cannot dangle until the next frame. */
    std::vector<lv_point_precise_t> points;
    bool y_inv = false;
};

lv_line_t* as_line(const lv_obj_t* obj);
lv_obj_t* create_instance();
void constructor(lv_obj_t* obj);
void self_size(lv_obj_t* obj, int32_t content_w, lv_point_t* size);
void draw_main(lv_obj_t* obj, lv_layer_t* layer);

} // namespace

const lv_obj_class_t lv_line_class = {
    &lv_obj_class, "lv_line", LV_SIZE_CONTENT, LV_SIZE_CONTENT, create_instance,
    constructor,   draw_main, self_size,       nullptr,
};

lv_obj_t* lv_line_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_line_class, parent);
}

void lv_line_set_points(lv_obj_t* obj, const lv_point_precise_t points[], uint32_t point_num)
{
    lv_line_t* line = as_line(obj);
    if (points == nullptr) point_num = 0;
    line->points.assign(points, points + point_num);
    lv_obj_mark_dirty(obj);
}

void lv_line_set_points_mutable(lv_obj_t* obj, lv_point_precise_t points[], uint32_t point_num)
{
    lv_line_set_points(obj, points, point_num);
}

const lv_point_precise_t* lv_line_get_points(lv_obj_t* obj)
{
    lv_line_t* line = as_line(obj);
    return line->points.empty() ? nullptr : line->points.data();
}

uint32_t lv_line_get_point_count(lv_obj_t* obj)
{
    return static_cast<uint32_t>(as_line(obj)->points.size());
}

void lv_line_set_y_invert(lv_obj_t* obj, bool en)
{
    as_line(obj)->y_inv = en;
    lv_obj_mark_dirty(obj);
}

bool lv_line_get_y_invert(const lv_obj_t* obj)
{
    return as_line(obj)->y_inv;
}

namespace {

lv_line_t* as_line(const lv_obj_t* obj)
{
    return static_cast<lv_line_t*>(const_cast<lv_obj_t*>(obj));
}

lv_obj_t* create_instance()
{
    return new lv_line_t();
}

void constructor(lv_obj_t* obj)
{
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_CLICKABLE);
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLLABLE);
}

void self_size(lv_obj_t* obj, int32_t content_w, lv_point_t* size)
{
    LV_UNUSED(content_w);
    int32_t w = 0, h = 0;
    for (const auto& p : as_line(obj)->points) {
        w = LV_MAX(w, p.x);
        h = LV_MAX(h, p.y);
    }
    int32_t line_width = lv_obj_get_style_line_width(obj, LV_PART_MAIN);
    size->x = w + line_width;
    size->y = h + line_width;
}

void draw_main(lv_obj_t* obj, lv_layer_t* layer)
{
    lv_line_t* line = as_line(obj);
    if (line->points.size() < 2) return;
    lv_draw_line_dsc_t dsc;
    lv_obj_init_draw_line_dsc(obj, LV_PART_MAIN, &dsc);
    int32_t h = lv_area_get_height(&obj->coords) - 1;
    auto place = [&](const lv_point_precise_t& p) {
        lv_point_t q;
        q.x = obj->coords.x1 + p.x;
        q.y = obj->coords.y1 + (line->y_inv ? h - p.y : p.y);
        return q;
    };
    for (size_t i = 0; i + 1 < line->points.size(); i++) {
        dsc.p1 = place(line->points[i]);
        dsc.p2 = place(line->points[i + 1]);
        lv_draw_line(layer, &dsc);
    }
}

} // namespace
