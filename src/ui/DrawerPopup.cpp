#include "ui/DrawerPopup.h"

#include <algorithm>
#include <vector>

#include "lvgl.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"
#include "ui/ScreenFrame.h"

namespace {

// The mirror's text area between the box's sides: 27 characters of 4 px, four lines of 7 px above
// the buttons.
constexpr int kMirrorChars = 27;
constexpr int kMirrorLines = 4;

lv_obj_t* add_line(lv_obj_t* box, const std::string& text)
{
    lv_obj_t* label = lv_msgbox_add_text(box, text.c_str());
    lv_obj_set_style_text_font(label, &lv_font_montserrat_18, 0);
    lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_long_mode(label, LV_LABEL_LONG_DOT);
    return label;
}

// The message lines share the box's content area in whole lines: the title as many as it needs while
// one is left for the second line, which takes the rest. What does not fit ends with dots.
void fit_lines(lv_obj_t* box, lv_obj_t* title, lv_obj_t* text)
{
    lv_obj_t* content = lv_msgbox_get_content(box);
    lv_obj_update_layout(box);
    const int32_t width = lv_obj_get_content_width(content);
    const int32_t line = lv_font_get_line_height(&lv_font_montserrat_18);
    int32_t room = lv_obj_get_content_height(content);
    if (text) room -= lv_obj_get_style_pad_row(content, LV_PART_MAIN);
    const int32_t lines = LV_MAX(room / line, text ? 2 : 1);
    lv_point_t size;
    lv_text_get_size(&size, lv_label_get_text(title), &lv_font_montserrat_18, 0, 0, width, LV_TEXT_FLAG_NONE);
    const int32_t titleLines = text ? LV_MIN(size.y / line, lines - 1) : lines;
    lv_obj_set_height(title, LV_MIN(size.y / line, titleLines) * line);
    if (text) lv_obj_set_height(text, (lines - titleLines) * line);
}

// Word-wrapped into lines of at most `width` characters, at most `count` lines; a cut text ends with
// dots.
std::vector<std::string> wrap(const std::string& text, int width, int count)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size() && int(lines.size()) < count) {
        size_t end = std::min(text.size(), at + size_t(width));
        if (end < text.size()) {
            size_t blank = text.rfind(' ', end);
            if (blank != std::string::npos && blank > at) end = blank;
        }
        lines.push_back(text.substr(at, end - at));
        at = text.find_first_not_of(' ', end);
        if (at == std::string::npos) at = text.size();
    }
    if (at < text.size() && !lines.empty()) {
        std::string& last = lines.back();
        last = last.substr(0, size_t(std::max(0, std::min(int(last.size()), width - 3)))) + "...";
    }
    return lines;
}

void add_button(lv_obj_t* box, const char* text, bool selected)
{
    lv_obj_t* button = lv_msgbox_add_footer_button(box, text);
    lv_obj_set_style_bg_color(button, selected ? lv_color_white() : lv_color_black(), 0);
    lv_obj_set_style_border_color(button, lv_color_white(), 0);
    lv_obj_set_style_border_width(button, 1, 0);
    lv_obj_set_style_text_color(button, selected ? lv_color_black() : lv_color_white(), 0);
}

// The same box in the monochrome buffer: a frame, the message lines (wrapped and cut like the
// display's) and the buttons, the selected one inverted.
void mirror_box(const std::string& title, const std::string& text, const char* const* names, int count, int selected)
{
    glcd_fillRect(8, 8, 119, 55, 0);
    glcd_drawRect(8, 8, 119, 55, 1);
    std::vector<std::string> lines = wrap(title, kMirrorChars, text.empty() ? kMirrorLines : kMirrorLines - 1);
    for (const std::string& line : wrap(text, kMirrorChars, kMirrorLines - int(lines.size()))) lines.push_back(line);
    for (size_t i = 0; i < lines.size(); i++)
        glcd_drawStringFontCentered(10, uint8_t(14 + 7 * i), kMirrorChars, lines[i].c_str(), glcd_font_small, 1);
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
{}

bool DrawerPopup::draw()
{
    create_screen_frame(0);
    lv_obj_t* box = lv_msgbox_create(lv_screen_active());
    lv_obj_set_size(box, 240, 120);
    lv_obj_set_style_pad_top(box, 15, 0);
    lv_obj_set_style_pad_bottom(box, 15, 0);
    lv_obj_t* titleLabel = add_line(box, title);
    lv_obj_t* textLabel = text.empty() ? nullptr : add_line(box, text);

    static const char* const kNames[3] = {"Back", "Ok", "Save"};
    static const char* const kOk[1] = {"Ok"};
    if (type == 1 || type == 2) {
        for (int i = 0; i <= type; i++) add_button(box, kNames[i], i == selected);
        mirror_box(title, text, kNames, type + 1, selected);
    } else {
        add_button(box, "Ok", true);
        mirror_box(title, text, kOk, 1, 0);
    }
    fit_lines(box, titleLabel, textLabel);
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
    case EventCode::MAIN + EventCode::PUSH_PRESS: armed = true; break;
    case EventCode::MAIN + EventCode::PUSH_CLICK:
        if (!armed) break;
        if ((type == 1 || type == 2) && result != nullptr) *result = selected;
        closing = true;
        EventDispatcher::addEvent(EventCode::CLOSE);
        break;
    default: break;
    }
    return true;
}
