#pragma once
#include <cstdint>
#include <string>

#include "ui/Listener.h"

// A colour editor drawn into the monochrome buffer: three sliders R, G, B (0 to 255) and the boxes
// "Back" and "Save". The main encoder moves the cursor, or, while a component is being edited,
// changes it by one; every change is written into the result text as "%06X". "Back" restores the
// text of construction, "Save" keeps the colour; both close the editor. It consumes every event.
class DrawerColor : public Listener {
public:
    // `result` holds six hexadecimal digits and must outlive the editor.
    DrawerColor(std::string title, std::string* result);

    bool draw() override;
    bool onEvent(int code) override;

    enum Cursor { RED = 0, GREEN = 1, BLUE = 2, BACK = 3, SAVE = 4 };

    std::string* result;
    std::string original;
    std::string title;
    uint32_t color;
    int cursor = RED;
    int tickCount = 0;
    bool editing = false;

private:
    int component(int index) const;
    void setComponent(int index, int value);
    void writeResult();
};
