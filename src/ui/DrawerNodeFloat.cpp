#include "ui/DrawerNodeFloat.h"

#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "ui/EventCode.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"

namespace {

constexpr int kTicksPerSecond = 5; // the tick comes every 200 ms
constexpr int kIdleStep = 2;

} // namespace

DrawerNodeFloat::DrawerNodeFloat(NodeFloat* node, int upCode, int downCode, int timeoutSeconds, std::string title,
                                 NodeEnum* onOff, int toggleCode, std::string onText)
    : node(node), upCode(upCode), downCode(downCode), timeoutSeconds(timeoutSeconds), title(std::move(title)),
      onOff(onOff), toggleCode(toggleCode), onText(std::move(onText))
{}

bool DrawerNodeFloat::draw()
{
    glcd_clear(0);
    if (!title.empty()) glcd_drawString(10, 16, title.c_str(), 1);
    glcd_drawRect(10, 28, 117, 45, 1);
    if (onOff && !onOff->isValue(onText.c_str())) {
        // Switched off: the bar is hatched and says so.
        for (int y = 29; y < 45; y++)
            for (int x = 11; x < 117; x++)
                if ((x + y) % 4 == 0) glcd_drawPixel(uint8_t(x), uint8_t(y), 1);
        glcd_fillRect(47, 30, 75, 44, 0);
        glcd_drawRect(47, 30, 75, 44, 1);
        glcd_drawStringCentered(62, 35, "OFF", 1);
    } else if (node) {
        int fill = int(node->toSlider() * 107.0f);
        if (fill > 0) glcd_fillRect(10, 28, uint8_t(10 + fill), 45, 1);
    }
    return true;
}

bool DrawerNodeFloat::onEvent(int code)
{
    using namespace EventCode;
    if (code == TICK) {
        // Closes once, when the idle count has reached five per second of the timeout; a tick counts two.
        if (!closing && idleTicks >= timeoutSeconds * kTicksPerSecond) {
            closing = true;
            EventDispatcher::addEvent(CLOSE);
        }
        idleTicks += kIdleStep;
        return true;
    }
    bool edited = false;
    if (code == upCode && node) {
        node->edit(true);
        edited = true;
    } else if (code == downCode && node) {
        node->edit(false);
        edited = true;
    } else if (code == toggleCode && onOff) {
        onOff->toggle();
        edited = true;
    }
    if (edited) idleTicks = 0;
    return !(code < 10 || code >= 16);
}
