#include "ScreenTest.h"

#include "ui/DrawerChooser.h"

namespace {

constexpr int UP = EventCode::MAIN + EventCode::TURN_UP;
constexpr int DOWN = EventCode::MAIN + EventCode::TURN_DOWN;
constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;

class DrawerChooserTest : public ScreenTest {};

TEST_F(DrawerChooserTest, ClickWritesTheChoiceUnderTheCursor)
{
    struct Case {
        std::vector<int> codes;
        const char* expected;
    };
    const Case cases[] = {
        {{CLICK}, "Rename"},
        {{UP, CLICK}, "Delete"},
        {{UP, UP, CLICK}, "Overwrite"},
        {{UP, UP, UP, CLICK}, ""}, // Back
        {{UP, UP, UP, UP, UP, CLICK}, ""}, // stops at Back, no wrap
        {{DOWN, CLICK}, "Rename"}, // stops at the first row
        {{UP, EventCode::KNOB1 + EventCode::PUSH_CLICK}, ""},
    };
    for (const Case& c : cases) {
        auto* below = new RecordingScreen;
        std::string result = "unchanged";
        new DrawerChooser("Clean", {"Rename", "Delete", "Overwrite"}, &result);
        for (int code : c.codes) EventDispatcher::addEvent(code);
        settle();
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(top(), below);
        EXPECT_TRUE(below->seen.empty());
    }
}

TEST_F(DrawerChooserTest, RowsWithHighlightAndScrollBarWhenLong)
{
    new RecordingScreen;
    std::string result;
    new DrawerChooser("Clean", {"Rename", "Delete", "Overwrite"}, &result);
    send({UP, EventCode::TICK, EventCode::INACTIVITY});
    frame();
    EXPECT_TRUE(has_text("Clean"));
    EXPECT_TRUE(of_class(&lv_bar_class).empty());
    lv_obj_t* selected = label("Delete");
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(text_color(selected), 0x000000u);
    EXPECT_EQ(text_color(label("Rename")), 0xFFFFFFu);
    EXPECT_EQ(text_color(label("Back")), 0xFFFFFFu);
    EXPECT_EQ(area(selected).x2 - area(selected).x1 + 1, 301);
    // The highlight behind row 1 (y 64..88) is white, row 0 stays black.
    EXPECT_EQ(pixel(300, 80), rgb565(0xFFFFFF));
    EXPECT_EQ(pixel(300, 55), rgb565(0x000000));
    check_screen("chooser");

    std::vector<std::string> many;
    for (int i = 0; i < 8; i++) many.push_back("Choice " + std::to_string(i));
    new DrawerChooser("Many", many, &result);
    for (int i = 0; i < 6; i++) EventDispatcher::addEvent(UP);
    settle();
    frame();
    auto bars = of_class(&lv_bar_class);
    ASSERT_EQ(bars.size(), 1u);
    // Nine rows, rows 2..6 shown.
    EXPECT_EQ(lv_bar_get_value(bars[0]), 9 - 2);
    EXPECT_EQ(lv_bar_get_start_value(bars[0]), 9 - 5 - 2);
    EXPECT_FALSE(has_text("Choice 1"));
    EXPECT_TRUE(has_text("Choice 2"));
    EXPECT_TRUE(has_text("Choice 6"));
    EXPECT_EQ(text_color(label("Choice 6")), 0x000000u);
    EXPECT_EQ(area(label("Choice 6")).x2 - area(label("Choice 6")).x1 + 1, 287);
}

} // namespace
