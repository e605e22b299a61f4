#include "ui/DrawerArray.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "params/NodeArray.h"
#include "params/NodeTemp.h"
#include "ui/EventCode.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"

namespace {

constexpr int kItemX1 = 100;
constexpr int kItemX2 = 124;
constexpr int kItemY[4] = {17, 27, 37, 47};
constexpr int kBottomLine = 57;

bool is_celsius(const char* unit)
{
    return unit && (std::strcmp(unit, "C") == 0 || std::strcmp(unit,
                                                               "\xB0"
                                                               "C") == 0);
}

} // namespace

DrawerArray::DrawerArray(NodeArray* node) : node(node)
{
    reload();
    cursor = backItem();
}

void DrawerArray::reload()
{
    values.clear();
    if (!node) return;
    int n = node->getLength();
    for (int k = 0; k < n; k++) values.push_back(node->getValueAt(k));
}

bool DrawerArray::draw()
{
    if (!node || !node->getChildren().empty()) return true;
    glcd_clear(0);
    glcd_drawString(1, 1, node->getDisplayName(), 1);
    glcd_drawLine(0, 12, 127, 12, 1);

    int n = int(values.size());
    chart.setData(values.data(), n);
    chart.setSize(1, 18, 90, 55);
    chart.setYLimits(0, 250, true, false);
    chart.setYRange(20, 40, true, true);
    chart.draw(0, n - 1, cursor < n ? cursor : -1);

    const char* labels[4] = {fast ? "X10" : "X1", "Add", "Del", "Back"};
    for (int i = 0; i < 4; i++) {
        int y = kItemY[i];
        glcd_drawRect(kItemX1, uint8_t(y), kItemX2, uint8_t(y + 8), 1);
        glcd_drawStringCentered((kItemX1 + kItemX2 + 1) / 2, uint8_t(y + 2), labels[i], 1);
        if (cursor == n + i) glcd_fillRect(kItemX1 + 1, uint8_t(y + 1), kItemX2 - 1, uint8_t(y + 7), 2);
    }

    char left[40], right[40];
    const char* unit = node->getUnit() ? node->getUnit() : "";
    if (cursor < n) {
        float value = values[cursor];
        std::string shownUnit = unit;
        if (is_celsius(unit)) {
            value = NodeTemp::convertTemperature(value);
            shownUnit = NodeTemp::getTemperatureUnit();
        }
        int decimals = std::max(node->getDecimals(), 0);
        std::snprintf(left, sizeof left, "VAL %.*f%s", decimals, double(value), shownUnit.c_str());
        float x = node->getXStart() + float(cursor) * node->getXStep();
        const char* xUnit = node->getXUnit() ? node->getXUnit() : "";
        if (std::strcmp(xUnit, "s") == 0) {
            int seconds = int(x);
            std::snprintf(right, sizeof right, "CUR %01d:%02d", seconds / 60, seconds % 60);
        } else {
            std::snprintf(right, sizeof right, "CUR %d%s", int(x), xUnit);
        }
    } else {
        std::snprintf(left, sizeof left, "MIN %.0f%s", double(chart.getMin()), unit);
        std::snprintf(right, sizeof right, "MAX %.0f%s", double(chart.getMax()), unit);
    }
    glcd_drawString(1, kBottomLine, left, 1);
    glcd_drawString(64, kBottomLine, right, 1);
    return true;
}

bool DrawerArray::onEvent(int code)
{
    using namespace EventCode;
    if (code == INACTIVITY) {
        EventDispatcher::addEvent(CLOSE);
        return false;
    }
    int n = int(values.size());
    if (code == TICK) {
        tickCount++;
    } else if (code == MAIN + PUSH_PRESS) {
        held = true;
    } else if (code == MAIN + PUSH_LONG_RELEASE) {
        held = false;
    } else if (code == MAIN + TURN_UP || code == MAIN + TURN_DOWN) {
        bool up = code == MAIN + TURN_UP;
        if (node && cursor < n && held) {
            for (int i = fast ? 10 : 1; i > 0; i--) node->editAt(cursor, up);
            reload();
        } else {
            cursor = std::clamp(cursor + (up ? 1 : -1), 0, backItem());
        }
    } else if (code == MAIN + PUSH_CLICK) {
        held = false;
        if (!node) return true;
        if (cursor == stepItem()) {
            fast = !fast;
        } else if (cursor == addItem()) {
            float copy = n > 0 ? values.back() : node->getMin();
            if (node->setValueAt(copy, n)) {
                reload();
                cursor = addItem();
            }
        } else if (cursor == delItem()) {
            if (n > 0 && node->setLength(n - 1)) {
                reload();
                cursor = delItem();
            }
        } else if (cursor == backItem()) {
            EventDispatcher::addEvent(CLOSE);
        }
    }
    return true;
}
