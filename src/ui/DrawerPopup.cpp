#include "ui/DrawerPopup.h"

#include "lvgl.h"
#include "ui/EventDispatcher.h"
#include "ui/ScreenFrame.h"

namespace {

void add_line(lv_obj_t* box, const std::string& text)
{
    lv_obj_t* label = lv_msgbox_add_text(box, text.c_str());
    lv_obj_set_style_text_font(label, &lv_font_montserrat_18, 0);
    lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_CENTER, 0);
}

void add_button(lv_obj_t* box, const char* text, bool selected)
{
    lv_obj_t* button = lv_msgbox_add_footer_button(box, text);
    lv_obj_set_style_bg_color(button, selected ? lv_color_white() : lv_color_black(), 0);
    lv_obj_set_style_border_color(button, lv_color_white(), 0);
    lv_obj_set_style_border_width(button, 1, 0);
    lv_obj_set_style_text_color(button, selected ? lv_color_black() : lv_color_white(), 0);
}

} // namespace

DrawerPopup::DrawerPopup(std::string title, std::string text, int type, int* result)
    : title(std::move(title)), text(std::move(text)), type(type), result(result)
{
}

bool DrawerPopup::draw()
{
    create_screen_frame(0);
    lv_obj_t* box = lv_msgbox_create(lv_screen_active());
    lv_obj_set_size(box, 240, 120);
    lv_obj_set_style_pad_top(box, 15, 0);
    lv_obj_set_style_pad_bottom(box, 15, 0);
    add_line(box, title);
    if (!text.empty()) add_line(box, text);

    if (type == 1 || type == 2) {
        const char* names[3] = {"Back", "Ok", "Save"};
        for (int i = 0; i <= type; i++) add_button(box, names[i], i == selected);
    } else {
        add_button(box, "Ok", true);
    }
    return true;
}

bool DrawerPopup::onEvent(int code)
{
    if (closing) return true;
    switch (code) {
    case EventCode::MAIN + EventCode::TURN_UP:
        if (selected < type) selected++;
        break;
    case EventCode::MAIN + EventCode::TURN_DOWN:
        if (selected > 0) selected--;
        break;
    case EventCode::MAIN + EventCode::PUSH_PRESS:
        armed = true;
        break;
    case EventCode::MAIN + EventCode::PUSH_CLICK:
        if (!armed) break;
        if ((type == 1 || type == 2) && result != nullptr) *result = selected;
        closing = true;
        EventDispatcher::addEvent(EventCode::CLOSE);
        break;
    default:
        break;
    }
    return true;
}
