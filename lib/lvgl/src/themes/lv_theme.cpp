#include "src/core/lv_obj_private.h"

lv_theme_t* lv_theme_get_from_obj(lv_obj_t* obj)
{
    lv_display_t* disp = obj ? lv_obj_get_display(obj) : lv_display_get_default();
    return lv_display_get_theme(disp);
}

static void apply_theme(lv_theme_t* th, lv_obj_t* obj)
{
    /* The parent theme first, so that the child theme's styles take precedence. */
    if (th->parent) apply_theme(th->parent, obj);
    if (th->apply_cb) th->apply_cb(th, obj);
}

void lv_theme_apply(lv_obj_t* obj)
{
    lv_theme_t* th = lv_theme_get_from_obj(obj);
    if (th) apply_theme(th, obj);
}

lv_color_t lv_theme_get_color_primary(lv_obj_t* obj)
{
    lv_theme_t* th = lv_theme_get_from_obj(obj);
    return th ? th->color_primary : lv_palette_main(LV_PALETTE_BLUE);
}

lv_color_t lv_theme_get_color_secondary(lv_obj_t* obj)
{
    lv_theme_t* th = lv_theme_get_from_obj(obj);
    return th ? th->color_secondary : lv_palette_main(LV_PALETTE_RED);
}

const lv_font_t* lv_theme_get_font_normal(lv_obj_t* obj)
{
    lv_theme_t* th = lv_theme_get_from_obj(obj);
    return th ? th->font_normal : LV_FONT_DEFAULT;
}
