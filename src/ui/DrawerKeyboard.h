#pragma once
#include <functional>
#include <string>

#include "lvgl.h"
#include "ui/Listener.h"

// The modal text entry, driven by the main encoder alone: turning moves the highlight from key to
// key, a click presses the highlighted key. Three key maps (lower case, upper case, digits); OK
// writes the text into the caller's string and closes, the close key and a click of knob 1 close
// without writing. A caller pushes it and waits with waitModal, then reads its string. Every event
// is consumed while it is on top. Runs on "systemTasks".
//
// A caller may give a check: a text it would refuse (a name the list cannot keep) is then not
// taken by OK; a popup says why and the keyboard stays open with the text, so nothing is silently
// lost. A caller that must tell OK on an empty text from a cancel (removing a password) passes a
// flag that OK sets.
class DrawerKeyboard : public Listener {
public:
    // The text starts as the caller's current string.
    DrawerKeyboard(std::string title, std::string* result);
    // The same, then the caller's string is set to `cancelText` at once (when not null): the caller
    // reads it back unless OK was pressed.
    DrawerKeyboard(std::string title, std::string* result, const char* cancelText);

    // Why a text cannot be taken; "" when it can.
    using Check = std::function<std::string(const std::string&)>;
    void setCheck(Check refusal) { check = std::move(refusal); }
    // Set to true by OK (left alone otherwise).
    void setAccepted(bool* flag) { accepted = flag; }

    bool draw() override;
    bool onEvent(int code) override;

    // The highlight of the selected key: white with black text.
    static lv_style_t style_custom_pressed;
    static lv_style_t* style_custom_pressed_ptr;

protected:
    std::string* result;
    std::string text;
    std::string title;
    int selected = 0;
    int tickCount = 0;
    // 0 lower-case letters, 1 upper-case letters, 2 digits entered from lower case, 3 from upper case.
    int mode = 0;

private:
    // Set once this keyboard has asked to be closed: a second CLOSE would close the screen below.
    bool closing = false;
    Check check;
    bool* accepted = nullptr;

    void press();
    void ok();
    void pressLetter(int key);
    void pressDigit(int key);
    void close();
    void backspace();
    int lastKey() const;
};
