#include "ScreenTest.h"

#include <cstring>

#include "base/System.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"
#include "ui/Chain.h"
#include "ui/DrawerList.h"
#include "ui/DrawerNode.h"
#include "ui/DrawerSetup.h"

namespace {

constexpr int UP = EventCode::MAIN + EventCode::TURN_UP;
constexpr int DOWN = EventCode::MAIN + EventCode::TURN_DOWN;
constexpr int PRESS = EventCode::MAIN + EventCode::PUSH_PRESS;
constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;
constexpr int LONG = EventCode::MAIN + EventCode::PUSH_LONG;

struct Tree {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    NodeList* list = keep(new NodeList(root, "presets", "Presets", "pst", 2048, 9));
    NodeItem* sys = keep(new NodeItem(root, "sys", "System", "", ItemType::SYSTEM));
    NodeItem* app = keep(new NodeItem(root, "app", "Application", "", ItemType::SYSTEM));
    NodePreset* preset = keep(new NodePreset(app, "preset", "Preset", "", list));
    NodeItem* gate = keep(new NodeItem(app, "gate", "Gate", "", ItemType::HFOLDER));
    NodeOnOff* gateOn = keep(new NodeOnOff(gate, "Enable", "ON"));
    NodeFloat* threshold = keep(new NodeFloat(gate, "thr", "Threshold", -60, 0, -40, "dB", 0.5f, false));
    NodeItem* amp = keep(new NodeItem(app, "amp", "Amp", "", ItemType::HFOLDER));
    NodeOnOff* ampOn = keep(new NodeOnOff(amp, "Enable", "OFF"));
    NodeFloat* gain = keep(new NodeFloat(amp, "gain", "Gain", 0, 10, 5, "", 0.5f, false));
    NodeFloat* secret = keep(new NodeFloat(amp, "secret", "Secret", 0, 1, 0, "", 0.5f, false));
    NodeEnum* type = keep(new NodeEnum(amp, "type", "Type", {"Clean", "Lead"}, "Clean"));
    NodeItem* time = keep(new NodeItem(amp, "time", "Time", "partempo", ItemType::MODULE));
    NodeFloat* rawdata = keep(new NodeFloat(time, "rawdata", "Time", 0, 1000, 300, "ms", 0.5f, false));
    NodeItem* tone = keep(new NodeItem(amp, "tone", "Tone", "", ItemType::MODULE));
    NodeOnOff* toneOn = keep(new NodeOnOff(tone, "Enable", "ON"));
    NodeFloat* bass = keep(new NodeFloat(tone, "bass", "Bass", -12, 12, 0, "dB", 0.5f, false));
    NodeFloat* treble = keep(new NodeFloat(tone, "treble", "Treble", -12, 12, 0, "dB", 0.5f, false));
    NodeItem* hiddenSub = keep(new NodeItem(amp, "more", "More", "", ItemType::MODULE));
    NodeFloat* more = keep(new NodeFloat(hiddenSub, "mid", "Mid", -12, 12, 0, "dB", 0.5f, false));
    NodeItem* output = keep(new NodeItem(app, "output", "Master", "", ItemType::HFOLDER));
    NodeFloat* volume = keep(new NodeFloat(output, "vol", "Volume", 0, 100, 50, "%", 0.5f, false));
    NodeFloat* level = keep(new NodeFloat(output, "level", "Level", 0, 100, 100, "%", 0.5f, false));
    std::vector<NodeItem*> assigns;

    Tree()
    {
        gate->setStyleColor(0x00FF00);
        amp->setStyleColor(0xFF6600);
        secret->setStyleVisible(false);
        hiddenSub->setStyleVisible(false);
        for (int i = 0; i < 4; i++) {
            std::string* name = new std::string("assign" + std::to_string(i + 1));
            assigns.push_back(keep(new NodeItem(root, name->c_str(), name->c_str(), "", ItemType::STRING)));
        }
        for (int i = 0; i < 4; i++) preset->saveAs(i, std::string("p").append(std::to_string(i)));
        preset->setValue("p1");
        System::root = root;
        System::app = app;
        System::system = sys;
    }
};

class ChainTest : public ScreenTest {
protected:
    Chain* open()
    {
        below = new RecordingScreen;
        chain = new Chain(t.app, nullptr, t.preset, t.level, t.volume, t.assigns);
        return chain;
    }

    std::vector<lv_obj_t*> boxes() { return of_class(&lv_button_class); }
    std::string box_name(lv_obj_t* box) { return lv_label_get_text(lv_obj_get_child(box, 0)); }
    std::string box_text(lv_obj_t* box) { return lv_label_get_text(lv_obj_get_child(box, 1)); }

    // The titles of the four parameter boxes on the bottom row (y 129).
    std::vector<std::string> titles()
    {
        std::vector<std::string> list;
        for (lv_obj_t* obj : of_class(&lv_label_class))
            if (area(obj).y1 == 129) list.push_back(lv_label_get_text(obj));
        return list;
    }

    Tree t;
    RecordingScreen* below = nullptr;
    Chain* chain = nullptr;
};

TEST_F(ChainTest, FastNodesSkipSwitchesTempoLinksAndHiddenParameters)
{
    EXPECT_TRUE(Chain::getFastNodes(nullptr).empty());
    EXPECT_EQ(Chain::getFastNodes(t.amp), (std::vector<Node*>{t.gain, t.type, t.bass, t.treble}));
    EXPECT_EQ(Chain::getFastNodes(t.gate), (std::vector<Node*>{t.threshold}));
    EXPECT_TRUE(Chain::isEnabled(t.gate));
    EXPECT_FALSE(Chain::isEnabled(t.amp));
    EXPECT_FALSE(Chain::isEnabled(t.output));
    EXPECT_FALSE(Chain::isEnabled(nullptr));
}

TEST_F(ChainTest, PresetPositionShowsTheBlocksAndThePresetBoxes)
{
    open();
    frame();
    auto list = boxes();
    ASSERT_EQ(list.size(), 2u); // the master folder is no block
    EXPECT_EQ(box_name(list[0]), "Gate");
    EXPECT_EQ(box_name(list[1]), "Amp");
    // On: the block's colour, black text. Off: an eighth of it, grey text.
    EXPECT_EQ(bg_color(list[0]), 0x00FF00u);
    EXPECT_EQ(text_color(lv_obj_get_child(list[0], 0)), 0x000000u);
    EXPECT_EQ(bg_color(list[1]), 0x1F0C00u);
    EXPECT_EQ(text_color(lv_obj_get_child(list[1], 0)), 0x777777u);
    EXPECT_EQ(text_color(lv_obj_get_child(list[1], 1)), 0xFFFFFFu);
    EXPECT_EQ(lv_obj_get_style_shadow_width(list[0], LV_PART_MAIN), 0);
    EXPECT_EQ(area(list[0]).x1, 7 + 20);
    EXPECT_EQ(area(list[1]).x1, 7 + 95);

    EXPECT_EQ(text_color(label("p1")), 0xFFFFFFu);
    EXPECT_EQ(titles(), (std::vector<std::string>{"Preset", "List", "Level", "Volume"}));
    EXPECT_TRUE(has_text("01B"));
    EXPECT_TRUE(has_text("Edit..."));
    EXPECT_FALSE(has_text(LV_SYMBOL_WARNING));
    // The gate box's middle is green on the screen.
    lv_area_t gate = area(list[0]);
    EXPECT_EQ(pixel(gate.x1 + 4, gate.y1 + 10), rgb565(0x00FF00));
    check_screen("chain_preset");

    // An edited preset gets the warning mark and a shorter name.
    t.gain->setValue(7);
    frame();
    ASSERT_TRUE(has_text(LV_SYMBOL_WARNING));
    EXPECT_EQ(text_color(label(LV_SYMBOL_WARNING)), 0xFF8800u);
    EXPECT_EQ(area(label("p1")).x2 - area(label("p1")).x1 + 1, 276);
}

TEST_F(ChainTest, CursorMovesOverTheBlocksAndShowsTheirParameters)
{
    open();
    send({DOWN});
    frame();
    EXPECT_EQ(text_color(label("p1")), 0xFFFFFFu);
    send({UP, UP, UP, UP});
    frame();
    auto list = boxes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(lv_obj_get_style_shadow_width(list[1], LV_PART_MAIN), 1);
    EXPECT_EQ(lv_obj_get_style_shadow_spread(list[1], LV_PART_MAIN), 3);
    EXPECT_EQ(lv_obj_get_style_shadow_width(list[0], LV_PART_MAIN), 0);
    EXPECT_EQ(text_color(label("p1")), 0x777777u);
    EXPECT_EQ(titles(), (std::vector<std::string>{"Gain", "Type", "Bass", "Treble"}));
    check_screen("chain_amp");

    // Knobs 1-4 edit the block's four parameters.
    send({40, 241, 340, 441});
    EXPECT_GT(t.gain->getValue(), 5.0f);
    EXPECT_STREQ(t.type->getValueText(), "Clean");
    send({240});
    EXPECT_STREQ(t.type->getValueText(), "Lead");
    EXPECT_GT(t.bass->getValue(), 0.0f);
    EXPECT_LT(t.treble->getValue(), 0.0f);

    // Long press: the block switches on.
    send({LONG});
    EXPECT_TRUE(Chain::isEnabled(t.amp));
    frame();
    EXPECT_EQ(bg_color(boxes()[1]), 0xFF6600u);
    send({LONG});
    EXPECT_FALSE(Chain::isEnabled(t.amp));

    // Click: the node browser on the block; at the preset position on the master folder.
    send({CLICK});
    ASSERT_NE(dynamic_cast<DrawerNode*>(top()), nullptr);
    frame();
    EXPECT_TRUE(has_text("Amp"));
    send({EventCode::KNOB1 + EventCode::PUSH_CLICK});
    send({DOWN, DOWN, CLICK});
    frame();
    EXPECT_TRUE(has_text("Master"));
}

TEST_F(ChainTest, KnobLongPressAssignsTheBlockToOneKnobOnly)
{
    t.assigns[3]->setValue("root\\app\\amp");
    open();
    send({UP, UP, 244});
    EXPECT_EQ(t.assigns[1]->getText(), "root\\app\\amp");
    EXPECT_EQ(t.assigns[3]->getText(), "");
    send({DOWN, 44 + 400});
    EXPECT_EQ(t.assigns[3]->getText(), "root\\app\\gate");
    EXPECT_EQ(t.assigns[1]->getText(), "root\\app\\amp");
    frame();
    EXPECT_EQ(box_text(boxes()[0]), "4");
    EXPECT_EQ(box_text(boxes()[1]), "2");
    // At the preset position there is no block to assign.
    send({DOWN, 44});
    EXPECT_EQ(t.assigns[0]->getText(), "");
}

TEST_F(ChainTest, PresetPositionKnobsStepPresetListLevelAndVolume)
{
    open();
    send({340, 441});
    EXPECT_GT(t.level->getValue(), 99.0f - 50.0f);
    EXPECT_LT(t.volume->getValue(), 50.0f);
    send({240, 241});

    // Unedited: knob 1 steps to the next preset at once.
    t.volume->setValue(50);
    t.level->setValue(100);
    t.preset->setValue("p1");
    send({40});
    EXPECT_EQ(t.preset->getValue(), "p2");

    // Edited: asks first. "Back" keeps it, "Save" stores the edit under the current name.
    t.gain->setValue(9);
    send({41, PRESS, CLICK});
    EXPECT_EQ(t.preset->getValue(), "p2");
    EXPECT_EQ(t.gain->getValue(), 9.0f);
    send({41, UP, UP, PRESS, CLICK});
    EXPECT_EQ(t.preset->getValue(), "p2");
    EXPECT_FALSE(t.preset->isEdited());
    t.gain->setValue(1);
    send({41, UP, PRESS, CLICK}); // "Ok": changes anyway
    EXPECT_EQ(t.preset->getValue(), "p1");
    t.preset->setValue("p2");
    EXPECT_EQ(t.gain->getValue(), 9.0f);

    // Knob 2 click: the preset list; long press: the setup screen.
    send({243});
    EXPECT_NE(dynamic_cast<DrawerList*>(top()), nullptr);
    send({EventCode::KNOB1 + EventCode::PUSH_CLICK});
    send({LONG});
    EXPECT_NE(dynamic_cast<DrawerSetup*>(top()), nullptr);
}

TEST_F(ChainTest, UnlistedCodesReachTheHomeScreenAndInactivityCloses)
{
    open();
    send({16, 17, 46, 247, 50, 12, 15, EventCode::TICK, 42, 343});
    EXPECT_EQ(below->seen, (std::vector<int>{16, 17, 46, 247, 50, 12, 15, EventCode::TICK, 42, 343}));
    send({EventCode::INACTIVITY});
    EXPECT_EQ(depth(), 1);
    EXPECT_EQ(below->seen.back(), EventCode::INACTIVITY);
    chain = new Chain(t.app, nullptr, t.preset, t.level, t.volume, t.assigns);
    send({EventCode::KNOB1 + EventCode::PUSH_CLICK});
    EXPECT_EQ(depth(), 1);
}

} // namespace
