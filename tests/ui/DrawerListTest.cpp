#include "ScreenTest.h"

#include <cstring>

#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"
#include "ui/DrawerList.h"

namespace {

constexpr int UP = EventCode::MAIN + EventCode::TURN_UP;
constexpr int DOWN = EventCode::MAIN + EventCode::TURN_DOWN;
constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;
constexpr int LONG = EventCode::MAIN + EventCode::PUSH_LONG;
constexpr int PRESS = EventCode::MAIN + EventCode::PUSH_PRESS;
constexpr int KNOB1_CLICK = EventCode::KNOB1 + EventCode::PUSH_CLICK;

// Sixty preset slots, the first thirty filled ("p0" .. "p29"), preset 07B ("p19") selected.
struct Presets {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "Root", "", ItemType::SYSTEM));
    NodeList* list = keep(new NodeList(root, "presets", "Presets", "pst_pst", 2048, 60));
    NodeItem* app = keep(new NodeItem(root, "app", "App", "", ItemType::SYSTEM));
    NodePreset* preset = keep(new NodePreset(app, "preset", "Preset", "", list));
    NodeItem* gate = keep(new NodeItem(app, "gate", "Gate", "", ItemType::HFOLDER));
    NodeOnOff* enable = keep(new NodeOnOff(gate, "Enable", "OFF"));
    NodeFloat* threshold = keep(new NodeFloat(gate, "thr", "Threshold", -60, 0, -40, "dB", 0.5f, false));

    Presets()
    {
        for (int i = 0; i < 30; i++) {
            threshold->setValue(-float(i));
            preset->saveAs(i, std::string("p").append(std::to_string(i)));
        }
        preset->setValue("p19");
    }

    std::string stored(int slot)
    {
        const char* data = reinterpret_cast<const char*>(list->dataAt(slot));
        return data ? std::string(data, strnlen(data, size_t(list->getElementSize()))) : std::string();
    }
};

class DrawerListTest : public ScreenTest {
protected:
    // Three screens below, as on the unit (home screen and the two overlays).
    void open()
    {
        below = new RecordingScreen;
        new RecordingScreen;
        new RecordingScreen;
        screen = new DrawerList(p.preset);
    }

    void moveTo(int from, int to)
    {
        for (; from < to; from++) EventDispatcher::addEvent(UP);
        for (; from > to; from--) EventDispatcher::addEvent(DOWN);
        settle();
    }

    std::vector<std::string> rowTexts()
    {
        std::vector<std::string> rows;
        for (lv_obj_t* obj : of_class(&lv_label_class)) {
            lv_area_t a = area(obj);
            if (a.x1 == 8 && a.y1 >= 40) rows.push_back(lv_label_get_text(obj));
        }
        return rows;
    }

    Presets p;
    RecordingScreen* below = nullptr;
    DrawerList* screen = nullptr;
};

TEST_F(DrawerListTest, OpensOnTheCurrentElementAsTheLastRowShown)
{
    open();
    frame();
    EXPECT_TRUE(has_text("Preset"));
    EXPECT_EQ(rowTexts(), (std::vector<std::string>{"06A p15", "06B p16", "06C p17", "07A p18", "07B p19"}));
    lv_obj_t* current = label("07B p19");
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(text_color(current), 0x000000u);
    EXPECT_EQ(lv_obj_get_style_text_decor(current, LV_PART_MAIN), LV_TEXT_DECOR_UNDERLINE);
    EXPECT_EQ(lv_obj_get_style_text_decor(label("07A p18"), LV_PART_MAIN), LV_TEXT_DECOR_NONE);
    EXPECT_EQ(text_color(label("07A p18")), 0xFFFFFFu);
    EXPECT_EQ(area(current).x2 - area(current).x1 + 1, 287);

    // 61 rows (60 slots and "Back"), rows 15..19 shown.
    auto bars = of_class(&lv_bar_class);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(lv_bar_get_max_value(bars[0]), 61);
    EXPECT_EQ(lv_bar_get_value(bars[0]), 61 - 15);
    EXPECT_EQ(lv_bar_get_start_value(bars[0]), 61 - 5 - 15);
    // The highlight of the last row (y 139..163) is white up to x 298, the scroll bar beside it.
    EXPECT_EQ(pixel(290, 150), rgb565(0xFFFFFF));
    EXPECT_EQ(pixel(290, 125), rgb565(0x000000));
    check_screen("list_presets");
}

TEST_F(DrawerListTest, CursorWrapsAtBothEndsAndEmptySlotsShowDashes)
{
    open();
    moveTo(19, 60);
    frame();
    EXPECT_EQ(text_color(label("Back")), 0x000000u);
    EXPECT_EQ(rowTexts().front(), "19C --------------------");

    send({UP});
    frame();
    EXPECT_EQ(rowTexts().front(), "01A p0");
    EXPECT_EQ(text_color(label("01A p0")), 0x000000u);

    send({DOWN});
    frame();
    EXPECT_EQ(rowTexts(), (std::vector<std::string>{"19C --------------------", "20A --------------------",
                                                    "20B --------------------", "20C --------------------", "Back"}));
    EXPECT_EQ(text_color(label("Back")), 0x000000u);
}

TEST_F(DrawerListTest, ClickSelectsAndCloses)
{
    open();
    // The current element: closes without loading it again (the edit stays).
    p.threshold->setValue(-7);
    send({CLICK});
    EXPECT_EQ(top(), EventDispatcher::events.back());
    EXPECT_EQ(depth(), 3);
    EXPECT_EQ(p.threshold->getValue(), -7);

    // Another element: loaded, then closed.
    screen = new DrawerList(p.preset);
    send({DOWN, CLICK});
    EXPECT_EQ(depth(), 3);
    EXPECT_EQ(p.preset->getValue(), "p18");
    EXPECT_EQ(p.threshold->getValue(), -18);

    // "Back" closes; footswitches are swallowed; inactivity closes and passes on.
    screen = new DrawerList(p.preset);
    send({16, 17, 46, 50});
    EXPECT_EQ(depth(), 4);
    moveTo(18, 60);
    send({CLICK});
    EXPECT_EQ(depth(), 3);
    screen = new DrawerList(p.preset);
    send({EventCode::INACTIVITY});
    EXPECT_EQ(depth(), 3);
    EXPECT_EQ(dynamic_cast<RecordingScreen*>(top())->seen, std::vector<int>{EventCode::INACTIVITY});
    EXPECT_TRUE(below->seen.empty());
}

TEST_F(DrawerListTest, EmptySlotIsNamedByKeyboardAndTakesTheCurrentSettings)
{
    open();
    p.threshold->setValue(-33);
    moveTo(19, 30);
    std::vector<int> codes{CLICK};
    for (int code : keyboard_codes("lead")) codes.push_back(code);
    send(codes);
    EXPECT_EQ(top(), screen); // stays open
    EXPECT_EQ(p.list->nameAt(30), "lead");
    EXPECT_EQ(p.preset->getValue(), "lead");
    EXPECT_NE(p.stored(30).find("-33.000000"), std::string::npos) << p.stored(30);

    // Cancelled, or OK on an empty text: the slot stays empty.
    send({UP});
    codes = {CLICK};
    for (int code : keyboard_codes("solo", false)) codes.push_back(code);
    send(codes);
    codes = {CLICK};
    for (int code : keyboard_codes("")) codes.push_back(code);
    send(codes);
    EXPECT_EQ(p.list->nameAt(31), "");
    EXPECT_EQ(p.preset->getValue(), "lead");
    EXPECT_EQ(top(), screen);
    frame();
    EXPECT_TRUE(has_text("11A lead"));
    EXPECT_EQ(lv_obj_get_style_text_decor(label("11A lead"), LV_PART_MAIN), LV_TEXT_DECOR_UNDERLINE);
}

TEST_F(DrawerListTest, LongPressRenamesDeletesAndOverwrites)
{
    open();
    // An empty slot: no chooser.
    moveTo(19, 40);
    send({LONG});
    EXPECT_EQ(top(), screen);

    // Delete 07A.
    moveTo(40, 18);
    send({LONG, UP, CLICK});
    EXPECT_EQ(top(), screen);
    EXPECT_EQ(p.list->nameAt(18), "");

    // Rename 06C to "p17x": selected afterwards.
    // The keyboard opens once the chooser has closed.
    send({DOWN});
    send_later(keyboard_codes("x"), 300);
    send({LONG, CLICK});
    EXPECT_EQ(p.list->nameAt(17), "p17x");
    EXPECT_EQ(p.preset->getValue(), "p17x");

    // Rename 06B to the name of 06A: refused, and 06A is not loaded instead.
    p.threshold->setValue(-44);
    send({DOWN});
    std::vector<int> codes;
    for (int i = 0; i < 11; i++) codes.push_back(UP);
    codes.push_back(CLICK); // backspace: "p1"
    for (int i = 0; i < 11; i++) codes.push_back(DOWN);
    codes.push_back(CLICK); // digits
    for (int i = 0; i < 7; i++) codes.push_back(UP);
    codes.push_back(CLICK); // "5": "p15"
    for (int i = 0; i < 3; i++) codes.push_back(UP);
    codes.push_back(CLICK); // OK: a popup says why, then the keyboard is back; knob 1 cancels it
    const int keyboard = depth() + 1;
    send_later(codes, 300);
    send_at_depths({{keyboard + 1, {PRESS, CLICK}}, {keyboard, {KNOB1_CLICK}}});
    send({LONG, CLICK});
    EXPECT_EQ(p.list->nameAt(16), "p16");
    EXPECT_EQ(p.preset->getValue(), "p17x");
    EXPECT_EQ(p.threshold->getValue(), -44);

    // Overwrite 06A with the current settings.
    send({DOWN, LONG, UP, UP, CLICK});
    EXPECT_NE(p.stored(15).find("-44.000000"), std::string::npos) << p.stored(15);
    EXPECT_EQ(p.list->nameAt(15), "p15");

    // The chooser's "Back" does nothing.
    send({LONG, UP, UP, UP, CLICK});
    EXPECT_EQ(p.list->nameAt(15), "p15");
    EXPECT_EQ(top(), screen);
    EXPECT_TRUE(below->seen.empty());
}

} // namespace
