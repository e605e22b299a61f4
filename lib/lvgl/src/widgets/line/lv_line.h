#pragma once
// Line: a polyline through points given relative to the object's top-left corner, drawn with the
// line style of the main part. With LV_SIZE_CONTENT the object spans the points.
#include "src/core/lv_obj.h"

#ifdef __cplusplus
extern "C" {
#endif

extern const lv_obj_class_t lv_line_class;

lv_obj_t* lv_line_create(lv_obj_t* parent);
/* The points are not copied; they must live as long as the line. */
void lv_line_set_points(lv_obj_t* obj, const lv_point_precise_t points[], uint32_t point_num);
/* Copies the points into the line. */
void lv_line_set_points_mutable(lv_obj_t* obj, lv_point_precise_t points[], uint32_t point_num);
const lv_point_precise_t* lv_line_get_points(lv_obj_t* obj);
uint32_t lv_line_get_point_count(lv_obj_t* obj);
void lv_line_set_y_invert(lv_obj_t* obj, bool en);
bool lv_line_get_y_invert(const lv_obj_t* obj);

#ifdef __cplusplus
}
#endif
