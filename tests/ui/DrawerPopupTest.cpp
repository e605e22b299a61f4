#include "ScreenTest.h"

#include "ui/DrawerPopup.h"
#include "ui/Glcd.h"

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
        {1, {UP, UP}, 1},          {1, {UP, UP, DOWN}, 0}, {1, {DOWN}, 0},
        {2, {UP, UP, UP}, 2},      {2, {UP, UP, DOWN}, 1}, {0, {UP, UP}, -7},
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
    snapshot("popup_type2");

    // The box is mirrored into the monochrome buffer: its frame's top-left corner is set.
    glcd_clear(0);
    frame();
    EXPECT_NE(glcd_buffer[(127 - 8) * 8 + 1] & 0x01, 0);
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

} // namespace
