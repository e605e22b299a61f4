#include "ScreenTest.h"

#include "effects/Tempo.h"
#include "effects/Tuner.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"
#include "porting/Task.h"
#include "ui/Chain.h"
#include "ui/Home.h"
#include "ui/UiFonts.h"

namespace {

constexpr int UP = EventCode::MAIN + EventCode::TURN_UP;
constexpr int DOWN = EventCode::MAIN + EventCode::TURN_DOWN;
constexpr int PRESS = EventCode::MAIN + EventCode::PUSH_PRESS;
constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;
constexpr int FOOT_A_PRESS = 16, FOOT_A_CLICK = 17, FOOT_B_PRESS = 46, FOOT_B_CLICK = 47, FOOT_C_CLICK = 247;

// Presets "p0" .. "p7" in slots 0..7 (banks 01 to 03), each with its own gain.
struct Unit {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    NodeList* list = keep(new NodeList(root, "presets", "Presets", "pst", 2048, 60));
    NodeItem* app = keep(new NodeItem(root, "app", "Application", "", ItemType::SYSTEM));
    NodePreset* preset = keep(new NodePreset(app, "preset", "Preset", "", list));
    NodeItem* amp = keep(new NodeItem(app, "amp", "Amp", "", ItemType::HFOLDER));
    NodeOnOff* ampOn = keep(new NodeOnOff(amp, "Enable", "OFF"));
    NodeFloat* gain = keep(new NodeFloat(amp, "gain", "Gain", 0, 10, 5, "", 0.5f, false));
    NodeEnum* type = keep(new NodeEnum(amp, "type", "Type", {"Clean", "Lead"}, "Clean"));
    // Volume, level and the knob defaults are global settings, outside the presets.
    NodeItem* output = keep(new NodeItem(root, "output", "Master", "", ItemType::HFOLDER));
    NodeFloat* volume = keep(new NodeFloat(output, "vol", "Volume", 0, 100, 50, "%", 0.5f, false));
    NodeFloat* level = keep(new NodeFloat(output, "level", "Level", 0, 100, 100, "%", 0.5f, false));
    NodeFloat* knobs[4];
    NodeItem* tempoFolder = keep(new NodeItem(root, "tempo", "Tempo", "", ItemType::MODULE));
    Tempo* tempo = keep(new Tempo(tempoFolder, nullptr));
    NodeItem* tunerFolder = keep(new NodeItem(root, "tuner", "Tuner", "", ItemType::MODULE));
    Tuner* tuner = keep(new Tuner(tunerFolder, false));
    std::vector<NodeItem*> assigns;

    Unit()
    {
        amp->setStyleColor(0xFF6600);
        for (int i = 0; i < 4; i++) {
            std::string* name = new std::string("k" + std::to_string(i + 1));
            knobs[i] = keep(new NodeFloat(output, name->c_str(), name->c_str(), 0, 10, 5, "", 0.5f, false));
            name = new std::string("assign" + std::to_string(i + 1));
            assigns.push_back(keep(new NodeItem(root, name->c_str(), name->c_str(), "", ItemType::STRING)));
        }
        for (int i = 0; i < 8; i++) {
            gain->setValue(float(i));
            preset->saveAs(i, std::string("p").append(std::to_string(i)));
        }
    }
};

class HomeTest : public ScreenTest {
protected:
    Home* open()
    {
        below = new RecordingScreen;
        home = new Home(u.app, nullptr, u.preset, u.tuner, u.tempo, u.assigns);
        home->setVolumeNode(u.volume);
        home->setLevelNode(u.level);
        home->setControls(u.knobs[0], u.knobs[1], u.knobs[2], u.knobs[3]);
        return home;
    }

    // The big preset number (x 5, y 37).
    std::string number()
    {
        frame();
        for (lv_obj_t* obj : of_class(&lv_label_class))
            if (area(obj).x1 == 5 && area(obj).y1 == 37) return lv_label_get_text(obj);
        return "<none>";
    }

    void ticks(int n)
    {
        for (int i = 0; i < n; i++) EventDispatcher::addEvent(EventCode::TICK);
        settle();
    }

    // The overlay is drawn alone: no parameter boxes.
    bool boxes_absent()
    {
        for (lv_obj_t* obj : of_class(&lv_label_class))
            if (area(obj).y1 == 129) return false;
        return true;
    }

    // The wide bar of the edit overlay (270 px).
    lv_obj_t* overlay_bar()
    {
        for (lv_obj_t* bar : of_class(&lv_bar_class))
            if (area(bar).x2 - area(bar).x1 + 1 == 270) return bar;
        return nullptr;
    }

    Unit u;
    RecordingScreen* below = nullptr;
    Home* home = nullptr;
};

TEST_F(HomeTest, PresetNumberAndTempoDigits)
{
    open();
    u.preset->setValue("p4");
    EXPECT_EQ(number(), "02B");
    EXPECT_TRUE(has_text("p4"));
    lv_obj_t* big = nullptr;
    for (lv_obj_t* obj : of_class(&lv_label_class))
        if (area(obj).x1 == 5 && area(obj).y1 == 37) big = obj;
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(lv_obj_get_style_text_font(big, LV_PART_MAIN), &ui_font_arzet_light102);
    EXPECT_EQ(text_color(big), 0xFAFAFAu);

    // Three integer digits and the point right against them (no blank between).
    struct Case {
        float bpm;
        const char* shown;
    };
    const Case cases[] = {{95.5f, "095.5"}, {239.5f, "239.5"}, {120.0f, "120.0"}, {30.0f, "030.0"}};
    for (const Case& c : cases) {
        u.tempo->getTempoNode()->setValue(c.bpm);
        frame();
        std::vector<std::string> found;
        for (lv_obj_t* obj : of_class(&lv_label_class))
            if (area(obj).y1 == 8 && area(obj).x1 >= 229) {
                found.push_back(lv_label_get_text(obj));
                EXPECT_EQ(lv_obj_get_style_text_font(obj, LV_PART_MAIN), &ui_font_arzet24);
            }
        EXPECT_EQ(found, std::vector<std::string>{c.shown}) << c.bpm;
    }
    check_screen("home");

    // Without a preset selector or tempo block: "---" and no tempo.
    new Home(nullptr, nullptr, nullptr, nullptr, nullptr, {});
    EXPECT_EQ(number(), "---");
    EXPECT_FALSE(has_text("."));
}

TEST_F(HomeTest, NormalViewMetersVolumeAndKnobBoxes)
{
    open();
    u.preset->setValue("p1");
    frame();
    EXPECT_TRUE(has_text("in"));
    EXPECT_TRUE(has_text("out"));
    EXPECT_TRUE(has_text("Vol"));
    std::vector<std::string> titles;
    for (lv_obj_t* obj : of_class(&lv_label_class))
        if (area(obj).y1 == 129) titles.push_back(lv_label_get_text(obj));
    EXPECT_EQ(titles, (std::vector<std::string>{"k1", "k2", "k3", "k4"}));

    int meters = 0;
    for (lv_obj_t* bar : of_class(&lv_bar_class)) {
        lv_area_t a = area(bar);
        if (a.x1 == 241 && a.y1 == 48) {
            EXPECT_EQ(lv_bar_get_value(bar), int(u.volume->toSlider() * 100));
            // No panel input bit set: the bar is grey.
            EXPECT_EQ(bg_color(bar, LV_PART_INDICATOR), 0x777777u);
        }
        if (a.x1 == 241 && a.y2 - a.y1 + 1 == 9) {
            meters++;
            EXPECT_EQ(lv_bar_get_value(bar), 0); // silence: -110 dB
            EXPECT_EQ(bg_color(bar, LV_PART_INDICATOR), 0x999999u);
            EXPECT_EQ(lv_obj_get_style_border_side(bar, LV_PART_MAIN), LV_BORDER_SIDE_BOTTOM | LV_BORDER_SIDE_LEFT);
        }
    }
    EXPECT_EQ(meters, 4);
}

TEST_F(HomeTest, MainEncoderVolumeOrPresetsWithThePushHeld)
{
    open();
    u.preset->setValue("p1");
    send({UP});
    EXPECT_GT(u.volume->getValue(), 50.0f);
    frame();
    lv_obj_t* bar = overlay_bar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bg_color(bar, LV_PART_INDICATOR), 0xFFFFFFu);
    EXPECT_TRUE(has_text("Volume"));
    EXPECT_TRUE(has_text(u.volume->toString()));
    EXPECT_TRUE(boxes_absent());
    check_screen("home_volume");
    ticks(5);
    frame();
    EXPECT_NE(overlay_bar(), nullptr);
    ticks(1);
    frame();
    EXPECT_EQ(overlay_bar(), nullptr);

    // Push held: turns step the preset and the release opens nothing.
    send({PRESS, UP, UP, CLICK});
    EXPECT_EQ(u.preset->getValue(), "p3");
    EXPECT_EQ(depth(), 2);
    send({PRESS, DOWN, EventCode::MAIN + EventCode::PUSH_LONG_RELEASE});
    EXPECT_EQ(u.preset->getValue(), "p2");
    // A click without a turn opens the chain screen.
    send({PRESS, CLICK});
    EXPECT_EQ(depth(), 3);
    EXPECT_NE(dynamic_cast<Chain*>(top()), nullptr);
}

TEST_F(HomeTest, FootswitchesSelectWithinTheBankAndTapTheTempo)
{
    open();
    u.preset->setValue("p4"); // 02B
    send({FOOT_A_PRESS, FOOT_A_CLICK});
    EXPECT_EQ(u.preset->getValue(), "p3");
    EXPECT_TRUE(u.tempo->isTapActive() == false);
    // A press on the active preset's footswitch taps; its click selects nothing.
    send({FOOT_A_PRESS, FOOT_A_CLICK});
    EXPECT_TRUE(u.tempo->isTapActive());
    EXPECT_EQ(u.preset->getValue(), "p3");
    send({FOOT_C_CLICK});
    EXPECT_EQ(u.preset->getValue(), "p5");

    // Five taps: the taps set the tempo, and clicks select nothing meanwhile.
    for (int i = 0; i < 5; i++) {
        vTaskDelay(2000);
        send({246});
    }
    EXPECT_TRUE(u.tempo->manualStatus());
    send({FOOT_B_CLICK, FOOT_A_CLICK});
    EXPECT_EQ(u.preset->getValue(), "p5");
    send({EventCode::PAIR_AB});
    EXPECT_EQ(number(), "02C");
}

TEST_F(HomeTest, FootswitchPairsBrowseBanks)
{
    open();
    u.preset->setValue("p1"); // bank 01
    send({EventCode::PAIR_AB});
    std::string shown = number();
    EXPECT_TRUE(shown == "01-" || shown == "01 ") << shown;
    send({EventCode::PAIR_AB});
    EXPECT_EQ(number().substr(0, 2), "01");
    // Up to the last bank in use (slots 6 and 7: bank 03), not further.
    send({EventCode::PAIR_BC, EventCode::PAIR_BC, EventCode::PAIR_BC, EventCode::PAIR_BC});
    EXPECT_EQ(number().substr(0, 2), "03");
    // A click in the browsed bank selects there and ends browsing.
    send({FOOT_B_CLICK});
    EXPECT_EQ(u.preset->getValue(), "p7");
    EXPECT_EQ(number(), "03B");

    // Browsing ends 41 ticks after the last pair.
    send({EventCode::PAIR_AB});
    ticks(40);
    EXPECT_EQ(number().substr(0, 2), "02");
    ticks(1);
    EXPECT_EQ(number(), "03B");
    // An empty slot of the browsed bank: nothing selected, browsing goes on.
    send({EventCode::PAIR_BC, FOOT_C_CLICK});
    EXPECT_EQ(u.preset->getValue(), "p7");
}

TEST_F(HomeTest, KnobsEditControlsOrTheAssignedBlock)
{
    open();
    send({40});
    EXPECT_GT(u.knobs[0]->getValue(), 5.0f);
    frame();
    ASSERT_NE(overlay_bar(), nullptr);
    EXPECT_EQ(bg_color(overlay_bar(), LV_PART_INDICATOR), 0xFFFFFFu);
    ticks(6);

    // Knob 2's assignment: the amp block (switched off) and its parameters.
    u.assigns[1]->setValue("root\\app\\amp");
    send({243});
    frame();
    auto boxes = of_class(&lv_button_class);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(area(boxes[0]).x1, 238);
    std::vector<std::string> titles;
    for (lv_obj_t* obj : of_class(&lv_label_class))
        if (area(obj).y1 == 129) titles.push_back(lv_label_get_text(obj));
    EXPECT_EQ(titles, (std::vector<std::string>{"Gain", "Type"}));
    check_screen("home_assign");

    // A turn edits the block's parameter; the overlay shows it dimmed (the block is off).
    const float before = u.gain->getValue();
    send({40});
    EXPECT_GT(u.gain->getValue(), before);
    frame();
    ASSERT_NE(overlay_bar(), nullptr);
    EXPECT_EQ(bg_color(overlay_bar(), LV_PART_INDICATOR), 0x7F6600u);
    // A non-float only steps, without the overlay.
    ticks(6);
    send({240});
    EXPECT_STREQ(u.type->getValueText(), "Lead");
    frame();
    EXPECT_EQ(overlay_bar(), nullptr);

    // The view closes 40 ticks after the last use.
    ticks(39);
    frame();
    EXPECT_EQ(of_class(&lv_button_class).size(), 1u);
    ticks(1);
    frame();
    EXPECT_TRUE(of_class(&lv_button_class).empty());
}

TEST_F(HomeTest, SaveOverwriteAndSaveAs)
{
    open();
    u.preset->setValue("p1");
    vTaskDelay(5); // an edit in the microsecond of the load would not count as one
    u.gain->setValue(9);
    ASSERT_TRUE(u.preset->isEdited());
    frame();
    EXPECT_TRUE(has_text(LV_SYMBOL_WARNING));

    // Knob 1 long: "Overwrite changes?" answered "Back", then "Ok".
    send({44, PRESS, CLICK});
    EXPECT_TRUE(u.preset->isEdited());
    send({44, UP, PRESS, CLICK});
    EXPECT_FALSE(u.preset->isEdited());
    u.preset->setValue("p0");
    u.preset->setValue("p1");
    EXPECT_EQ(u.gain->getValue(), 9.0f);

    // Knob 2 long: "Save as..." under a new name, which is then selected.
    u.gain->setValue(3);
    std::vector<int> codes{244};
    for (int code : keyboard_codes("x")) codes.push_back(code);
    send(codes);
    EXPECT_EQ(u.preset->getValue(), "p1x");
    EXPECT_EQ(u.list->indexOf("p1x"), 8);
    u.preset->setValue("p1");
    EXPECT_EQ(u.gain->getValue(), 9.0f);
    u.preset->setValue("p1x");
    EXPECT_EQ(u.gain->getValue(), 3.0f);

    // Cancelled: nothing. The same name: asks to overwrite.
    codes = {244};
    for (int code : keyboard_codes("y", false)) codes.push_back(code);
    send(codes);
    EXPECT_EQ(u.list->indexOf("p1xy"), -1);
    u.gain->setValue(4);
    send_later({UP, PRESS, CLICK}, 300);
    codes = {244};
    for (int code : keyboard_codes("")) codes.push_back(code);
    send(codes);
    EXPECT_FALSE(u.preset->isEdited());
    EXPECT_EQ(depth(), 2);
}

TEST_F(HomeTest, SaveAsARefusedNameSaysWhyAndStaysOnTheKeyboard)
{
    open();
    u.preset->setValue("p1");
    // "p1" and 30 letters: one too many. OK opens the popup; once it is closed the keyboard is back
    // with the text: a backspace (12 keys before OK) and OK save it.
    const int keyboard = depth() + 1;
    std::vector<int> fix(12, DOWN), codes{244};
    fix.push_back(CLICK);
    fix.insert(fix.end(), 12, UP);
    fix.push_back(CLICK);
    send_at_depths({{keyboard + 1, {PRESS, CLICK}}, {keyboard, fix}});
    for (int code : keyboard_codes(std::string(30, 'a'))) codes.push_back(code);
    send(codes);
    const std::string kept = std::string("p1").append(29, 'a');
    EXPECT_EQ(u.list->indexOf(kept), 8);
    EXPECT_EQ(u.preset->getValue(), kept);
    EXPECT_EQ(top(), home);
}

TEST_F(HomeTest, LongPressOfFootswitchCStartsTheTunerAndOtherCodesPass)
{
    open();
    send({248});
    EXPECT_TRUE(u.tuner->getOnOff()->isValue(NodeOnOff::ON));
    send({EventCode::INACTIVITY, 14, 18, 19, 42, 45, 48, 49, 242, 245, 249, 342, 344, 345, 442, 444, 445});
    EXPECT_EQ(below->seen, (std::vector<int>{EventCode::INACTIVITY, 14, 18, 19, 42, 45, 48, 49, 242, 245, 249, 342, 344,
                                             345, 442, 444, 445}));
}

} // namespace
