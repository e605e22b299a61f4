#include "ui/DrawerTempo.h"

#include "effects/Tempo.h"
#include "lvgl.h"
#include "params/NodeFloat.h"
#include "ui/ScreenFrame.h"
#include "ui/UiFonts.h"

DrawerTempo::DrawerTempo(Tempo* tempo) : tempo(tempo) {}

bool DrawerTempo::draw()
{
    if (tempo == nullptr || !tempo->manualStatus()) return false;
    apply_default_theme();

    lv_obj_t* value = lv_label_create(lv_screen_active());
    lv_obj_set_pos(value, 0, 55);
    lv_obj_set_size(value, 320, 84);
    lv_obj_set_style_text_font(value, &ui_font_sans100, 0);
    lv_obj_set_style_text_align(value, LV_TEXT_ALIGN_CENTER, 0);
    lv_obj_set_style_radius(value, 10, 0);
    lv_obj_set_style_text_color(value, lv_color_hex(0xFAFAFA), 0);
    lv_obj_set_style_text_letter_space(value, -4, 0);
    lv_obj_set_style_pad_bottom(value, 1, 0);
    NodeFloat* node = tempo->getTempoNode();
    lv_label_set_text_fmt(value, "%.1f", node ? double(node->getValue()) : 0.0);

    lv_obj_t* title = lv_label_create(lv_screen_active());
    lv_obj_set_pos(title, 0, 24);
    lv_obj_set_size(title, 320, 29);
    lv_label_set_long_mode(title, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(title, &lv_font_montserrat_26, 0);
    lv_obj_set_style_text_align(title, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_text(title, "TAP Tempo");
    return true;
}

bool DrawerTempo::onEvent(int code)
{
    if (code != EventCode::TICK || tempo == nullptr || !tempo->isTapActive()) return false;
    tempo->tapTick();
    return true;
}
