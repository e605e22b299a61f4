#pragma once
// Themes: a theme gives every newly created object its styles by class. A display has one theme;
// objects created on it take that theme's look below their own styles.
#include "src/core/lv_obj.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*lv_theme_apply_cb_t)(lv_theme_t* th, lv_obj_t* obj);

struct _lv_theme_t {
    lv_theme_apply_cb_t apply_cb;
    lv_theme_t* parent;
    void* user_data;
    lv_display_t* disp;
    lv_color_t color_primary;
    lv_color_t color_secondary;
    const lv_font_t* font_small;
    const lv_font_t* font_normal;
    const lv_font_t* font_large;
    uint32_t flags;
};

/* The theme of the object's display (null: none). */
lv_theme_t* lv_theme_get_from_obj(lv_obj_t* obj);
void lv_theme_apply(lv_obj_t* obj);
lv_color_t lv_theme_get_color_primary(lv_obj_t* obj);
lv_color_t lv_theme_get_color_secondary(lv_obj_t* obj);
const lv_font_t* lv_theme_get_font_normal(lv_obj_t* obj);

#ifdef __cplusplus
}
#endif
