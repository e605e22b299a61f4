#include "ScreenTest.h"

#include "ui/DrawerKeyboard.h"

namespace {

constexpr int UP = EventCode::MAIN + EventCode::TURN_UP;
constexpr int DOWN = EventCode::MAIN + EventCode::TURN_DOWN;
constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;
constexpr int KNOB1_CLICK = EventCode::KNOB1 + EventCode::PUSH_CLICK;

class DrawerKeyboardTest : public ScreenTest {
protected:
    void open(const char* cancel = nullptr)
    {
        below = new RecordingScreen;
        keyboard =
            cancel ? new DrawerKeyboard("Save as...", &result, cancel) : new DrawerKeyboard("Save as...", &result);
    }

    // Moves the highlight forward to `key` (the maps wrap) and presses it.
    void press(int key, int keys)
    {
        int steps = ((key - selected) % keys + keys) % keys;
        for (int i = 0; i < steps; i++) send({UP});
        selected = key;
        send({CLICK});
    }
    void pressLetter(int key) { press(key, 34); }
    void pressDigit(int key) { press(key, 17); }

    lv_obj_t* matrix()
    {
        auto list = of_class(&lv_keyboard_class);
        return list.empty() ? nullptr : list.front();
    }

    // The text line above the keys.
    std::string shown()
    {
        frame();
        lv_obj_t* obj = all().empty() ? nullptr : nullptr;
        for (lv_obj_t* l : of_class(&lv_label_class)) {
            lv_area_t a = area(l);
            if (a.x1 == 7 && a.y1 == 43) obj = l;
        }
        return obj ? lv_label_get_text(obj) : "<none>";
    }

    std::string result = "old";
    int selected = 0;
    RecordingScreen* below = nullptr;
    DrawerKeyboard* keyboard = nullptr;
};

TEST_F(DrawerKeyboardTest, HighlightStartsOnTheFirstKeyAndWrapsBothWays)
{
    open();
    frame();
    ASSERT_NE(matrix(), nullptr);
    EXPECT_TRUE(lv_buttonmatrix_has_button_ctrl(matrix(), 0, LV_BUTTONMATRIX_CTRL_CHECKED));
    EXPECT_STREQ(lv_buttonmatrix_get_button_text(matrix(), 0), "123");
    EXPECT_EQ(lv_buttonmatrix_get_button_count(matrix()), 34u);

    send({DOWN});
    frame();
    EXPECT_TRUE(lv_buttonmatrix_has_button_ctrl(matrix(), 33, LV_BUTTONMATRIX_CTRL_CHECKED));
    EXPECT_FALSE(lv_buttonmatrix_has_button_ctrl(matrix(), 0, LV_BUTTONMATRIX_CTRL_CHECKED));
    EXPECT_STREQ(lv_buttonmatrix_get_button_text(matrix(), 33), LV_SYMBOL_CLOSE);

    send({UP});
    frame();
    EXPECT_TRUE(lv_buttonmatrix_has_button_ctrl(matrix(), 0, LV_BUTTONMATRIX_CTRL_CHECKED));

    // The highlighted key is drawn white: most of its area is white (its text is black).
    lv_area_t key;
    lv_buttonmatrix_get_button_area(matrix(), 0, &key);
    int white = 0, total = 0;
    for (int y = key.y1; y <= key.y2; y++)
        for (int x = key.x1; x <= key.x2; x++, total++)
            if (pixel(x, y) == rgb565(0xFFFFFF)) white++;
    EXPECT_GT(white * 2, total);
    lv_buttonmatrix_get_button_area(matrix(), 1, &key);
    EXPECT_NE(pixel((key.x1 + key.x2) / 2, key.y1 + 2), rgb565(0xFFFFFF));
    check_screen("keyboard_lower");
}

TEST_F(DrawerKeyboardTest, KeysTypeTextAcrossTheThreeMaps)
{
    open();
    EXPECT_EQ(shown(), "old");
    pressLetter(11); // backspace
    pressLetter(11);
    pressLetter(11);
    pressLetter(11); // nothing left: ignored
    EXPECT_EQ(shown(), "");

    pressLetter(1); // a
    pressLetter(12); // ABC: upper case
    pressLetter(1); // A
    EXPECT_EQ(shown(), "aA");
    EXPECT_STREQ(lv_buttonmatrix_get_button_text(matrix(), 1), "A");

    pressLetter(22); // T
    pressLetter(29); // Z
    pressLetter(30); // _
    pressLetter(31); // -
    pressLetter(32); // blank
    pressLetter(13); // K
    EXPECT_EQ(shown(), "aATZ_- K");

    pressLetter(0); // 123: digits, case remembered
    frame();
    EXPECT_EQ(lv_buttonmatrix_get_button_count(matrix()), 17u);
    EXPECT_STREQ(lv_buttonmatrix_get_button_text(matrix(), 0), "ABC");
    selected = 0;
    for (int key : {1, 4, 6, 7, 9, 11, 12, 14, 15, 5}) pressDigit(key);
    EXPECT_EQ(shown(), "aATZ_- K14-57_80");

    pressDigit(0); // back to the letters, upper case
    frame();
    EXPECT_EQ(lv_buttonmatrix_get_button_count(matrix()), 34u);
    EXPECT_STREQ(lv_buttonmatrix_get_button_text(matrix(), 1), "A");
    pressLetter(12); // lower case
    pressLetter(24);
    EXPECT_EQ(shown(), "aATZ_- K14-57_80u");
    EXPECT_EQ(result, "old"); // nothing written before OK
    check_screen("keyboard_typed");
}

TEST_F(DrawerKeyboardTest, OkWritesTheTextCloseAndKnobClickLeaveTheResult)
{
    struct Case {
        const char* cancel;
        bool digits;
        int key; // pressed after typing "b"; -1: knob 1 click instead
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, false, 23, "oldb"}, {nullptr, false, 33, "old"}, {nullptr, false, -1, "old"}, {"", false, 23, "oldb"},
        {"", false, 33, ""},          {"", false, -1, ""},         {nullptr, true, 10, "oldb"}, {"x", true, 16, "x"},
    };
    for (const Case& c : cases) {
        result = "old";
        selected = 0;
        open(c.cancel);
        pressLetter(2); // b
        if (c.digits) {
            pressLetter(0);
            selected = 0;
        }
        if (c.key < 0) send({KNOB1_CLICK});
        else if (c.digits) pressDigit(c.key);
        else pressLetter(c.key);
        EXPECT_EQ(result, c.expected) << (c.cancel ? c.cancel : "null") << " key " << c.key;
        EXPECT_EQ(top(), below) << "key " << c.key;
    }
}

TEST_F(DrawerKeyboardTest, ConsumesEveryEventAndClosesOnlyItself)
{
    auto* base = new RecordingScreen;
    open();
    send({EventCode::INACTIVITY, EventCode::TICK, 16, 17, 50, 43 + 200, 12, 14, 15});
    EXPECT_EQ(top(), keyboard);
    EXPECT_TRUE(below->seen.empty());

    // OK and a further click queued before the close is handled: only the keyboard goes.
    for (int i = 0; i < 23; i++) EventDispatcher::addEvent(UP);
    EventDispatcher::addEvent(CLICK);
    EventDispatcher::addEvent(CLICK);
    EventDispatcher::addEvent(KNOB1_CLICK);
    settle();
    EXPECT_EQ(result, "old");
    EXPECT_EQ(top(), below);
    EXPECT_EQ(depth(), 2);
    EXPECT_EQ(EventDispatcher::events.front(), base);
}

} // namespace
