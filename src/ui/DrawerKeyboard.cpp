#include "ui/DrawerKeyboard.h"

#include "ui/DrawerPopup.h"
#include "ui/EventDispatcher.h"
#include "ui/ScreenFrame.h"
#include "ui/ServiceThreads.h"

namespace {

using Ctrl = lv_buttonmatrix_ctrl_t;

// Key maps: the position of a key in reading order (line breaks not counted) is what a press
// acts on, so the maps and the press tables below must stay in step.
const char* const kLowerMap[] = {"123",        "a",   "b", "c", "d", "e", "f", "g", "h", "i", "j", LV_SYMBOL_BACKSPACE,
                                 "\n",         "ABC", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t",
                                 LV_SYMBOL_OK, "\n",  "u", "v", "w", "x", "y", "z", "_", "-", " ", LV_SYMBOL_CLOSE,
                                 nullptr};

const char* const kUpperMap[] = {"123",        "A",   "B", "C", "D", "E", "F", "G", "H", "I", "J", LV_SYMBOL_BACKSPACE,
                                 "\n",         "ABC", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T",
                                 LV_SYMBOL_OK, "\n",  "U", "V", "W", "X", "Y", "Z", "_", "-", " ", LV_SYMBOL_CLOSE,
                                 nullptr};

const char* const kDigitMap[] = {
    "ABC", "1", "2", "3", "4", LV_SYMBOL_BACKSPACE, "\n",   "-", "5", "6", "7", LV_SYMBOL_OK, "\n",
    "_",   "8", "9", "0", " ", LV_SYMBOL_CLOSE,     nullptr};

// Relative key widths.
const Ctrl kLetterWidths[] = {Ctrl(8), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4),
                              Ctrl(4), Ctrl(4), Ctrl(6), Ctrl(8), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4),
                              Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(6), Ctrl(4), Ctrl(4), Ctrl(4),
                              Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(6), Ctrl(6)};

const Ctrl kDigitWidths[] = {Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(6), Ctrl(4), Ctrl(4), Ctrl(4),
                             Ctrl(4), Ctrl(6), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(4), Ctrl(6)};

constexpr int kLastLetterKey = 33;
constexpr int kLastDigitKey = 16;

} // namespace

lv_style_t DrawerKeyboard::style_custom_pressed;
lv_style_t* DrawerKeyboard::style_custom_pressed_ptr = nullptr;

DrawerKeyboard::DrawerKeyboard(std::string title, std::string* result)
    : result(result), text(result ? *result : std::string()), title(std::move(title))
{}

DrawerKeyboard::DrawerKeyboard(std::string title, std::string* result, const char* cancelText)
    : DrawerKeyboard(std::move(title), result)
{
    if (cancelText != nullptr && result != nullptr) *result = cancelText;
}

bool DrawerKeyboard::draw()
{
    if (style_custom_pressed_ptr == nullptr) {
        lv_style_init(&style_custom_pressed);
        lv_style_set_bg_color(&style_custom_pressed, lv_color_white());
        lv_style_set_bg_opa(&style_custom_pressed, LV_OPA_COVER);
        lv_style_set_text_color(&style_custom_pressed, lv_color_black());
        style_custom_pressed_ptr = &style_custom_pressed;
    }

    create_screen_frame();
    create_rule(7, 33, 306);
    create_screen_title(title.c_str());

    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, 7, 43);
    lv_obj_set_size(label, 306, 25);
    lv_label_set_long_mode(label, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(label, &lv_font_montserrat_20, 0);
    lv_obj_set_style_text_color(label, lv_color_white(), 0);
    lv_label_set_text(label, text.c_str());

    lv_obj_t* keyboard = lv_keyboard_create(lv_screen_active());
    lv_keyboard_set_map(keyboard, LV_KEYBOARD_MODE_USER_1, kLowerMap, kLetterWidths);
    lv_keyboard_set_map(keyboard, LV_KEYBOARD_MODE_USER_2, kUpperMap, kLetterWidths);
    lv_keyboard_set_map(keyboard, LV_KEYBOARD_MODE_USER_3, kDigitMap, kDigitWidths);
    lv_keyboard_set_mode(keyboard, mode == 0   ? LV_KEYBOARD_MODE_USER_1
                                   : mode == 1 ? LV_KEYBOARD_MODE_USER_2
                                               : LV_KEYBOARD_MODE_USER_3);
    lv_obj_add_style(keyboard, style_custom_pressed_ptr, LV_PART_ITEMS | LV_STATE_CHECKED);
    lv_obj_set_align(keyboard, LV_ALIGN_DEFAULT);
    lv_obj_set_pos(keyboard, 6, 73);
    lv_obj_set_size(keyboard, 308, 90);
    lv_buttonmatrix_set_button_ctrl(keyboard, selected, LV_BUTTONMATRIX_CTRL_CHECKED);
    return true;
}

bool DrawerKeyboard::onEvent(int code)
{
    if (closing) return true;
    switch (code) {
    case EventCode::MAIN + EventCode::TURN_UP: selected = selected >= lastKey() ? 0 : selected + 1; break;
    case EventCode::MAIN + EventCode::TURN_DOWN: selected = selected <= 0 ? lastKey() : selected - 1; break;
    case EventCode::MAIN + EventCode::PUSH_CLICK: press(); break;
    case EventCode::TICK: tickCount = tickCount >= 1 ? -1 : tickCount + 1; break;
    case EventCode::KNOB1 + EventCode::PUSH_CLICK: close(); break;
    default: break;
    }
    return true;
}

int DrawerKeyboard::lastKey() const
{
    return mode < 2 ? kLastLetterKey : kLastDigitKey;
}

void DrawerKeyboard::press()
{
    if (mode < 2) pressLetter(selected);
    else pressDigit(selected);
}

void DrawerKeyboard::pressLetter(int key)
{
    const char first = mode == 0 ? 'a' : 'A';
    if (key == 0) {
        mode += 2;
    } else if (key >= 1 && key <= 10) {
        text += char(first + key - 1);
    } else if (key == 11) {
        backspace();
    } else if (key == 12) {
        mode = mode == 0 ? 1 : 0;
    } else if (key >= 13 && key <= 22) {
        text += char(first + 10 + key - 13);
    } else if (key == 23) {
        ok();
    } else if (key >= 24 && key <= 29) {
        text += char(first + 20 + key - 24);
    } else if (key == 30) {
        text += '_';
    } else if (key == 31) {
        text += '-';
    } else if (key == 32) {
        text += ' ';
    } else if (key == 33) {
        close();
    }
}

void DrawerKeyboard::pressDigit(int key)
{
    if (key == 0) {
        mode -= 2;
    } else if (key >= 1 && key <= 4) {
        text += char('1' + key - 1);
    } else if (key == 5) {
        backspace();
    } else if (key == 6) {
        text += '-';
    } else if (key >= 7 && key <= 9) {
        text += char('5' + key - 7);
    } else if (key == 10) {
        ok();
    } else if (key == 11) {
        text += '_';
    } else if (key >= 12 && key <= 14) {
        text += "890"[key - 12];
    } else if (key == 15) {
        text += ' ';
    } else if (key == 16) {
        close();
    }
}

void DrawerKeyboard::ok()
{
    const std::string refusal = check ? check(text) : std::string();
    if (!refusal.empty()) {
        // Modal in turn: its close must end this wait, not the caller's.
        new DrawerPopup("Refused", refusal, 0, nullptr);
        waitModal();
        return;
    }
    if (result != nullptr) *result = text;
    if (accepted != nullptr) *accepted = true;
    close();
}

void DrawerKeyboard::backspace()
{
    if (!text.empty()) text.pop_back();
}

void DrawerKeyboard::close()
{
    closing = true;
    EventDispatcher::addEvent(EventCode::CLOSE);
}
