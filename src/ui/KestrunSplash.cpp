#include "ui/KestrunSplash.h"

#include "lvgl.h"
#include "ui/ScreenFrame.h"

void kestrun_splash()
{
    apply_default_theme();
    lv_obj_t* screen = lv_screen_active();
    if (screen == nullptr) return;

    lv_obj_t* name = lv_label_create(screen);
    lv_obj_set_pos(name, 0, 54);
    lv_obj_set_size(name, 320, 45);
    lv_obj_set_style_text_font(name, &lv_font_montserrat_28, 0);
    lv_obj_set_style_text_align(name, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_long_mode(name, LV_LABEL_LONG_DOT);
    lv_label_set_text(name, "Vornetide");

    lv_obj_t* model = lv_label_create(screen);
    lv_obj_set_pos(model, 126, 82);
    lv_obj_set_size(model, 179, 48);
    lv_obj_set_style_text_font(model, &lv_font_montserrat_40, 0);
    lv_obj_set_style_text_align(model, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_long_mode(model, LV_LABEL_LONG_DOT);
    lv_label_set_text(model, "PRO");
}
