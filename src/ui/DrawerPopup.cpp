#include "ui/DrawerPopup.h"

#include "lvgl.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"
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

// The same box in the monochrome buffer: a frame, the message lines and the buttons, the selected
// one inverted.
void mirror_box(const std::string& title, const std::string& text, const char* const* names, int count, int selected)
{
    glcd_fillRect(8, 8, 119, 55, 0);
    glcd_drawRect(8, 8, 119, 55, 1);
    glcd_drawStringFontCentered(10, 14, 27, title.c_str(), glcd_font_small, 1);
    if (!text.empty()) glcd_drawStringFontCentered(10, 24, 27, text.c_str(), glcd_font_small, 1);
    const int width = 108 / count;
    for (int i = 0; i < count; i++) {
        const int x1 = 10 + i * width, x2 = x1 + width - 2;
        glcd_drawRect(uint8_t(x1), 42, uint8_t(x2), 52, 1);
        glcd_drawStringFontCentered(uint8_t(x1 + 1), 45, uint8_t((width - 3) / 4), names[i], glcd_font_small, 1);
        if (i == selected) glcd_fillRect(uint8_t(x1 + 1), 43, uint8_t(x2 - 1), 51, 2);
    }
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

    static const char* const kNames[3] = {"Back", "Ok", "Save"};
    static const char* const kOk[1] = {"Ok"};
    if (type == 1 || type == 2) {
        for (int i = 0; i <= type; i++) add_button(box, kNames[i], i == selected);
        mirror_box(title, text, kNames, type + 1, selected);
    } else {
        add_button(box, "Ok", true);
        mirror_box(title, text, kOk, 1, 0);
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
