#pragma once
#include <string>
#include <vector>

#include "ui/Listener.h"

// A small modal screen that picks one text from a list of texts, with a "Back" row last. The
// choice (or "" for "Back" and a click of knob 1) is written into the caller's string when the
// screen closes. Every event is consumed while it is on top. Runs on "systemTasks".
class DrawerChooser : public Listener {
public:
    DrawerChooser(std::string title, std::vector<std::string> choices, std::string* result);

    bool draw() override;
    bool onEvent(int code) override;

protected:
    int cursor = 0;
    int scrollTop = 0;
    int rows;
    std::string* result;
    std::string title;
    std::vector<std::string> choices;

private:
    // Set once the chooser has asked to be closed: a second CLOSE would close the screen below.
    bool closing = false;

    void choose(const std::string& choice);
};
