#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/KeepNode.h"
#include "params/NodeArray.h"
#include "params/NodeItem.h"
#include "ui/DrawerArray.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"

namespace {

using namespace EventCode;
constexpr int UP = MAIN + TURN_UP, DOWN = MAIN + TURN_DOWN, CLICK = MAIN + PUSH_CLICK, PRESS = MAIN + PUSH_PRESS;

int closes()
{
    int code, n = 0;
    while (EventDispatcher::eventQueue.try_dequeue(code)) n += code == CLOSE;
    return n;
}

TEST(DrawerArray, ItemsEditAndResize)
{
    struct Case {
        const char* what;
        std::vector<float> start;
        std::vector<int> codes;
        std::vector<float> values;
        int cursorFromBack; // cursor relative to "Back" at the end
        int closes;
    };
    const std::vector<Case> cases = {
        {"Del on an empty array does nothing", {}, {DOWN, CLICK}, {}, -1, 0},
        {"Add on an empty array appends the minimum", {}, {DOWN, DOWN, CLICK}, {10}, -2, 0},
        {"Add copies the last value and stays on Add", {30, 35}, {DOWN, DOWN, CLICK, CLICK}, {30, 35, 35, 35}, -2, 0},
        {"Del removes the last value and stays on Del", {30, 35, 40}, {DOWN, CLICK, CLICK}, {30}, -1, 0},
        {"turning with the push held edits the value",
         {30, 35},
         {DOWN, DOWN, DOWN, DOWN, PRESS, UP, UP, DOWN, UP},
         {30, 37},
         -4,
         0},
        {"X10 makes ten steps", {30, 35}, {DOWN, DOWN, DOWN, CLICK, DOWN, DOWN, PRESS, DOWN}, {20, 35}, -5, 0},
        {"after a click the turn moves the cursor again",
         {30},
         {DOWN, DOWN, DOWN, DOWN, PRESS, CLICK, UP},
         {30},
         -3,
         0},
        {"values stay in range", {11}, {DOWN, DOWN, DOWN, DOWN, PRESS, DOWN, DOWN, DOWN}, {10}, -4, 0},
        {"the cursor stops at both ends", {30}, {UP, UP, DOWN, DOWN, DOWN, DOWN, DOWN, DOWN, DOWN}, {30}, -4, 0},
        {"Back closes", {30}, {TICK, CLICK}, {30}, 0, 1},
    };
    for (const Case& c : cases) {
        auto* root = keep(new NodeItem(nullptr, "root", "root", "", "system"));
        auto* array = new NodeArray(root, "curve", "Curve", 8, 10, 250, "C", 0, NodeArray::EncB2D0);
        for (size_t k = 0; k < c.start.size(); k++) array->setValueAt(c.start[k], int(k));
        auto* drawer = new DrawerArray(array);
        EXPECT_EQ(drawer->cursor, drawer->backItem()) << c.what;
        for (int code : c.codes) EXPECT_TRUE(drawer->onEvent(code)) << c.what;
        std::vector<float> values;
        for (int k = 0; k < array->getLength(); k++) values.push_back(array->getValueAt(k));
        EXPECT_EQ(values, c.values) << c.what;
        EXPECT_EQ(drawer->values, c.values) << c.what << ": the copy follows the node";
        EXPECT_EQ(drawer->cursor - drawer->backItem(), c.cursorFromBack) << c.what;
        EXPECT_EQ(closes(), c.closes) << c.what;
        glcd_initialize();
        EXPECT_TRUE(drawer->draw());
        EventDispatcher::removeListener(drawer);
    }
}

TEST(DrawerArray, InactivityClosesAndPassesOn)
{
    auto* root = keep(new NodeItem(nullptr, "root", "root", "", "system"));
    auto* array = new NodeArray(root, "curve", "Curve", 8, 0, 250, "", 0, NodeArray::EncB2D0);
    auto* drawer = new DrawerArray(array);
    closes();
    EXPECT_FALSE(drawer->onEvent(INACTIVITY));
    EXPECT_EQ(closes(), 1);
    EXPECT_TRUE(drawer->onEvent(KNOB3 + TURN_UP));
    EventDispatcher::removeListener(drawer);
}

TEST(DrawerArray, DrawsTheChartAndTheItems)
{
    auto* root = keep(new NodeItem(nullptr, "root", "root", "", "system"));
    auto* array = new NodeArray(root, "curve", "Curve", 8, 0, 250, "C", 0, NodeArray::EncB2D0, 0, 30, "s");
    for (int k = 0; k < 5; k++) array->setValueAt(float(20 + 5 * k), k);
    auto* drawer = new DrawerArray(array);
    auto lit = [](int x1, int y1, int x2, int y2) {
        int n = 0;
        for (int x = x1; x <= x2; x++)
            for (int y = y1; y <= y2; y++) n += (glcd_buffer[(127 - x) * 8 + y / 8] >> (y % 8)) & 1;
        return n;
    };
    std::vector<int> backBox;
    for (int cursor : {drawer->backItem(), 2}) {
        drawer->cursor = cursor;
        glcd_clear(1);
        EXPECT_TRUE(drawer->draw());
        EXPECT_GT(lit(1, 18, 90, 55), 10) << "the chart";
        EXPECT_EQ(lit(0, 12, 127, 12), 128) << "the rule";
        EXPECT_GT(lit(1, 57, 127, 63), 10) << "the bottom line";
        backBox.push_back(lit(101, 48, 123, 54));
    }
    EXPECT_GT(backBox[0], backBox[1] * 2) << "the selected item is inverted";
    EXPECT_FLOAT_EQ(drawer->chart.getMin(), 20);
    EXPECT_FLOAT_EQ(drawer->chart.getMax(), 40);
    EventDispatcher::removeListener(drawer);
}

} // namespace
