#include "ui/DrawerColor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "ui/EventCode.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"

namespace {

constexpr int kSliderY[3] = {22, 34, 46};
constexpr int kSliderLeft = 11;
constexpr int kSliderRight = 106;
constexpr const char* kLabels[3] = {"R", "G", "B"};

} // namespace

DrawerColor::DrawerColor(std::string title, std::string* result)
    : result(result), original(result ? *result : std::string()), title(std::move(title)),
      color(uint32_t(std::strtol(original.c_str(), nullptr, 16)) & 0xFFFFFF)
{}

int DrawerColor::component(int index) const
{
    return int(color >> (16 - 8 * index)) & 0xFF;
}

void DrawerColor::setComponent(int index, int value)
{
    int shift = 16 - 8 * index;
    color = (color & ~(0xFFu << shift)) | (uint32_t(std::clamp(value, 0, 255)) << shift);
}

void DrawerColor::writeResult()
{
    if (!result) return;
    char text[8];
    std::snprintf(text, sizeof text, "%06X", unsigned(color));
    *result = text;
}

bool DrawerColor::draw()
{
    glcd_clear(0);
    glcd_drawString(1, 1, title.c_str(), 1);
    glcd_drawLine(0, 10, 127, 10, 1);
    for (int i = 0; i < 3; i++) {
        int y = kSliderY[i];
        glcd_drawString(1, uint8_t(y - 2), kLabels[i], 1);
        if (cursor == i) glcd_fillRect(0, uint8_t(y - 3), 4, uint8_t(y + 3), 2);
        glcd_drawLine(kSliderLeft, uint8_t(y), kSliderRight, uint8_t(y), 1);
        int knob = kSliderLeft + component(i) * (kSliderRight - kSliderLeft) / 255;
        glcd_fillCircle(uint8_t(knob), uint8_t(y), 3, 0);
        if (editing && cursor == i) glcd_fillCircle(uint8_t(knob), uint8_t(y), 3, 1);
        else glcd_drawCircle(uint8_t(knob), uint8_t(y), 3, 1);
        char value[8];
        std::snprintf(value, sizeof value, "%d", component(i));
        glcd_drawStringFontRightAligned(126, uint8_t(y - 2), value, glcd_font_small, 1);
    }
    glcd_drawRect(0, 53, 63, 63, 1);
    glcd_drawRect(64, 53, 127, 63, 1);
    glcd_drawStringCentered(32, 56, "Back", 1);
    glcd_drawStringCentered(96, 56, "Save", 1);
    if (cursor == BACK) glcd_fillRect(1, 54, 62, 62, 2);
    if (cursor == SAVE) glcd_fillRect(65, 54, 126, 62, 2);
    return true;
}

bool DrawerColor::onEvent(int code)
{
    using namespace EventCode;
    if (code == TICK) {
        tickCount++;
    } else if (code == MAIN + TURN_UP || code == MAIN + TURN_DOWN) {
        int step = code == MAIN + TURN_UP ? 1 : -1;
        if (editing) {
            setComponent(cursor, component(cursor) + step);
            writeResult();
        } else {
            cursor = std::clamp(cursor + step, int(RED), int(SAVE));
        }
    } else if (code == MAIN + PUSH_CLICK) {
        if (cursor <= BLUE) {
            editing = !editing;
        } else if (cursor == BACK) {
            if (result) *result = original;
            EventDispatcher::addEvent(CLOSE);
        } else {
            writeResult();
            EventDispatcher::addEvent(CLOSE);
        }
    }
    return true;
}
