#include "ScreenTest.h"

#include "params/Storage.h"
#include "porting/Nvs.h"
#include "support/TempRoot.h"
#include "ui/DrawerPopup.h"
#include "ui/Glcd.h"
#include "ui/ServiceThreads.h"

#include <sys/stat.h>

namespace {

constexpr int UP = EventCode::MAIN + EventCode::TURN_UP;
constexpr int DOWN = EventCode::MAIN + EventCode::TURN_DOWN;
constexpr int PRESS = EventCode::MAIN + EventCode::PUSH_PRESS;
constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;

class DrawerPopupTest : public ScreenTest {
protected:
    std::vector<lv_obj_t*> buttons() { return of_class(&lv_button_class); }
    std::string button_text(lv_obj_t* button) { return lv_label_get_text(lv_obj_get_child(button, 0)); }
};

TEST_F(DrawerPopupTest, TurnsChooseAButtonWithinTheTypeAndAClickAnswers)
{
    struct Case {
        int type;
        std::vector<int> turns;
        int expected; // -7: untouched
    };
    const Case cases[] = {
        {1, {UP, UP}, 1},     {1, {UP, UP, DOWN}, 0}, {1, {DOWN}, 0},
        {2, {UP, UP, UP}, 2}, {2, {UP, UP, DOWN}, 1}, {0, {UP, UP}, -7},
    };
    for (const Case& c : cases) {
        auto* below = new RecordingScreen;
        int result = -7;
        new DrawerPopup("Discard changes?", "", c.type, &result);
        for (int code : c.turns) send({code});
        send({PRESS, CLICK});
        EXPECT_EQ(result, c.expected) << "type " << c.type;
        EXPECT_EQ(top(), below);
        EXPECT_TRUE(below->seen.empty());
    }
}

TEST_F(DrawerPopupTest, AnswersOnlyAClickWhosePressItSaw)
{
    auto* below = new RecordingScreen;
    int result = 0;
    auto* popup = new DrawerPopup("Are you sure?", "", 1, &result);
    // The release of the press that opened it, inactivity, knob clicks and footswitches: ignored.
    send({UP, CLICK, EventCode::MAIN + EventCode::PUSH_LONG_RELEASE, EventCode::INACTIVITY, 43, 17, 16});
    EXPECT_EQ(top(), popup);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(below->seen.empty());

    // A second click queued behind the answering one closes nothing more.
    EventDispatcher::addEvent(PRESS);
    EventDispatcher::addEvent(CLICK);
    EventDispatcher::addEvent(PRESS);
    EventDispatcher::addEvent(CLICK);
    settle();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(top(), below);
}

TEST_F(DrawerPopupTest, DrawsTheMessageAndTheSelectedButtonInverted)
{
    new RecordingScreen;
    int result = 0;
    new DrawerPopup("Discard changes?", "Preset 01A", 2, &result);
    send({UP});
    frame();
    EXPECT_TRUE(has_text("Discard changes?"));
    EXPECT_TRUE(has_text("Preset 01A"));
    EXPECT_EQ(lv_obj_get_style_text_font(label("Discard changes?"), LV_PART_MAIN), &lv_font_montserrat_18);

    auto list = buttons();
    ASSERT_EQ(list.size(), 3u);
    const char* names[] = {"Back", "Ok", "Save"};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(button_text(list[i]), names[i]);
        bool selected = i == 1;
        EXPECT_EQ(bg_color(list[i]), selected ? 0xFFFFFFu : 0x000000u) << i;
        EXPECT_EQ(text_color(lv_obj_get_child(list[i], 0)), selected ? 0x000000u : 0xFFFFFFu) << i;
        EXPECT_EQ(rgb(lv_obj_get_style_border_color(list[i], LV_PART_MAIN)), 0xFFFFFFu);
    }
    // Pixels: inside the selected button white, inside the others black.
    lv_area_t ok = area(list[1]), back = area(list[0]);
    EXPECT_EQ(pixel(ok.x1 + 4, (ok.y1 + ok.y2) / 2), rgb565(0xFFFFFF));
    EXPECT_EQ(pixel(back.x1 + 4, (back.y1 + back.y2) / 2), rgb565(0x000000));
    lv_area_t box = area(of_class(&lv_msgbox_class).front());
    EXPECT_EQ(box.x2 - box.x1 + 1, 240);
    EXPECT_EQ(box.y2 - box.y1 + 1, 120);
    check_screen("popup_type2");

    // The box is mirrored into the monochrome buffer: its frame's top-left corner is set.
    glcd_clear(0);
    frame();
    EXPECT_NE(glcd_buffer[(127 - 8) * 8 + 1] & 0x01, 0);
}

// Pixel (x, y) of the monochrome buffer.
bool mono(int x, int y)
{
    return (glcd_buffer[(127 - x) * 8 + y / 8] >> (y % 8)) & 1;
}

TEST_F(DrawerPopupTest, LongTextsWrapOrEndWithDotsInsideTheBoxOnBothDisplays)
{
    const std::string longTitle = "Discard the changes made to every block of this preset before loading the next one?";
    const std::string longText = "The stored preset keeps its settings; nothing of the edit survives the change";
    struct Case {
        std::string title, text;
    };
    for (const Case& c : {Case{longTitle, longText}, Case{longTitle, ""}, Case{"Discard changes?", longText}}) {
        new RecordingScreen;
        new DrawerPopup(c.title, c.text, 2, nullptr);
        glcd_clear(0);
        frame();
        lv_area_t box = area(of_class(&lv_msgbox_class).front());
        lv_area_t footer = area(lv_msgbox_get_footer(of_class(&lv_msgbox_class).front()));
        auto lines = lv_obj_get_child_count(lv_msgbox_get_content(of_class(&lv_msgbox_class).front()));
        ASSERT_EQ(lines, c.text.empty() ? 1u : 2u);
        for (uint32_t i = 0; i < lines; i++) {
            lv_obj_t* line = lv_obj_get_child(lv_msgbox_get_content(of_class(&lv_msgbox_class).front()), int32_t(i));
            lv_area_t a = area(line);
            const std::string drawn = lv_label_get_text_drawn(line);
            const std::string& full = i == 0 ? c.title : c.text;
            // Each line keeps at least one line of its own above the buttons; a cut text ends with dots.
            EXPECT_GE(a.y2 - a.y1 + 1, lv_font_get_line_height(&lv_font_montserrat_18)) << full;
            EXPECT_LT(a.y2, footer.y1) << full;
            EXPECT_GE(a.y1, box.y1) << full;
            if (full.size() > 30) EXPECT_EQ(drawn.substr(drawn.size() - 3), "...") << full;
            else EXPECT_EQ(drawn, full);
            // Its ink is there, inside its own area.
            lv_area_t ink_box = ink(a.x1, a.y1, a.x2, a.y2, 0x2E2E36);
            EXPECT_LE(ink_box.x1, ink_box.x2) << full;
        }
        // Nothing of the message is drawn between the box's bottom edge and the buttons' row or
        // outside the box.
        lv_area_t outside_below = ink(box.x1, box.y2 + 1, box.x2, 169);
        EXPECT_GT(outside_below.x1, outside_below.x2) << c.title;

        // The monochrome mirror: every set pixel inside the box, no text line reaching the buttons.
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 128; x++)
                if (x < 8 || x > 119 || y < 8 || y > 55) {
                    ASSERT_FALSE(mono(x, y)) << x << "," << y << " " << c.title;
                }
        for (int x = 10; x <= 117; x++) EXPECT_FALSE(mono(x, 41)) << "a text line runs into the buttons at x " << x;
        bool textShown = false;
        for (int y = 14; y < 40; y++)
            for (int x = 10; x <= 117; x++) textShown = textShown || mono(x, y);
        EXPECT_TRUE(textShown);
        check_screen(c.text.empty() ? "popup_long_title" : c.title.size() > 30 ? "popup_long" : "popup_long_text");
        send({PRESS, CLICK});
    }
}

TEST_F(DrawerPopupTest, OneLineMessageAndASingleSelectedOk)
{
    new RecordingScreen;
    new DrawerPopup("Saved", "", 0, nullptr);
    frame();
    auto content = of_class(&lv_msgbox_content_class);
    ASSERT_EQ(content.size(), 1u);
    EXPECT_EQ(lv_obj_get_child_count(content.front()), 1u);
    auto list = buttons();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(button_text(list[0]), "Ok");
    EXPECT_EQ(bg_color(list[0]), 0xFFFFFFu);
    send({PRESS, CLICK}); // no answer to write: only closes
    EXPECT_EQ(depth(), 1);
}

TEST_F(DrawerPopupTest, AValueStorageCouldNotWriteIsToldOnce)
{
    new RecordingScreen;
    Storage::open();
    ::mkdir((test_root() + "/home/storage/k").c_str(), 0755); // a folder where the value's file must go
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(nvs_set_blob(0, "k", "x", 1), 0);
        Storage::reportFailure("Storage error -1");
        tell_storage_failures();
    }
    frame();
    EXPECT_EQ(depth(), 2) << "one popup for a repeated failure";
    EXPECT_TRUE(has_text("Changes not saved") && has_text("Is a directory"));
}

} // namespace
