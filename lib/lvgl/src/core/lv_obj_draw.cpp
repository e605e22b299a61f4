#include "src/core/lv_obj_private.h"
#include "src/draw/lv_draw.h"

void lv_obj_draw_tree(lv_obj_t* obj, lv_layer_t* layer)
{
    if (obj->flags & LV_OBJ_FLAG_HIDDEN) return;
    lv_draw_rect_dsc_t main;
    lv_obj_init_draw_rect_dsc(obj, LV_PART_MAIN, &main);
    /* A border drawn "post" lies above the content and the children. */
    bool border_post = lv_obj_get_style_border_post(obj, LV_PART_MAIN);
    lv_draw_rect_dsc_t background = main;
    if (border_post) background.border_width = 0;
    lv_draw_rect(layer, &background, &obj->coords);

    if (auto draw_main = lv_obj_class_find_cb(obj->class_p, &lv_obj_class_t::draw_main_cb)) draw_main(obj, layer);

    if (!obj->children.empty()) {
        lv_area_t saved = layer->clip;
        bool visible = true;
        if (!(obj->flags & LV_OBJ_FLAG_OVERFLOW_VISIBLE))
            visible = lv_area_intersect(&layer->clip, &saved, &obj->coords);
        if (visible) {
            for (lv_obj_t* child : obj->children) lv_obj_draw_tree(child, layer);
        }
        layer->clip = saved;
    }

    if (border_post) lv_draw_border(layer, &main, &obj->coords);
}
