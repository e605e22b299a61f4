#pragma once
#include <string>

#include "ui/Listener.h"

// The modal message box: a title, an optional second line, and one to three buttons chosen with
// the main encoder. Types: 0 "Ok" (no answer written), 1 "Back" (0) "Ok" (1), 2 "Back" (0) "Ok" (1)
// "Save" (2). The caller sets its answer to its default, pushes the popup, waits with waitModal and
// reads the answer. A popup answers only a click whose press it saw itself, so the event that opened
// it never answers it. Every event is consumed while it is on top. Runs on "systemTasks".
class DrawerPopup : public Listener {
public:
    DrawerPopup(std::string title, std::string text, int type, int* result);

    bool draw() override;
    bool onEvent(int code) override;

protected:
    std::string title;
    std::string text;
    int selected = 0;
    int type;
    int* result;
    bool armed = false;

private:
    // Set once the popup has asked to be closed: a second CLOSE would close the screen below.
    bool closing = false;
};
