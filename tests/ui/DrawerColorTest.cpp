#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/DrawerColor.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"

namespace {

using namespace EventCode;
constexpr int UP = MAIN + TURN_UP, DOWN = MAIN + TURN_DOWN, CLICK = MAIN + PUSH_CLICK;

bool closed()
{
    int code;
    bool any = false;
    while (EventDispatcher::eventQueue.try_dequeue(code)) any |= code == CLOSE;
    return any;
}

TEST(DrawerColor, EditsTheResultAndSavesOrRestores)
{
    struct Case {
        const char* what;
        std::vector<int> codes;
        std::string result;
        bool closes;
    };
    const std::vector<Case> cases = {
        {"green up by two, then save", {UP, CLICK, UP, UP, CLICK, UP, UP, UP, CLICK}, "10220F", true},
        {"each change is written at once", {CLICK, DOWN, DOWN}, "0E200F", false},
        {"back restores the text of construction", {CLICK, DOWN, CLICK, UP, UP, UP, CLICK}, "10200F", true},
        {"a component stays within 0 .. 255",
         {UP,   UP,   CLICK, DOWN, DOWN, DOWN, DOWN, DOWN, DOWN, DOWN,
          DOWN, DOWN, DOWN,  DOWN, DOWN, DOWN, DOWN, DOWN, DOWN, DOWN},
         "102000",
         false},
        {"the cursor stops at Save", {UP, UP, UP, UP, UP, UP, UP, CLICK}, "10200F", true},
        {"the cursor stops at R", {DOWN, DOWN, CLICK, UP}, "11200F", false},
        {"other codes are taken and ignored", {KNOB1 + TURN_UP, 16, TICK, 3}, "10200F", false},
    };
    for (const Case& c : cases) {
        std::string result = "10200F";
        auto* drawer = new DrawerColor("Color", &result);
        for (int code : c.codes) EXPECT_TRUE(drawer->onEvent(code)) << c.what;
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(closed(), c.closes) << c.what;
        EventDispatcher::removeListener(drawer);
    }
}

TEST(DrawerColor, DrawsIntoTheMonochromeBuffer)
{
    std::string result = "FF0000";
    auto* drawer = new DrawerColor("Color", &result);
    glcd_initialize();
    EXPECT_TRUE(drawer->draw());
    auto lit = [](int x, int y) { return (glcd_buffer[(127 - x) * 8 + y / 8] >> (y % 8)) & 1; };
    // The red knob sits at the right end of its slider, the green one at the left.
    EXPECT_TRUE(lit(106 + 3, 22));
    EXPECT_TRUE(lit(11 - 3, 34));
    EXPECT_TRUE(lit(0, 53) && lit(127, 63));
    EventDispatcher::removeListener(drawer);
}

} // namespace
