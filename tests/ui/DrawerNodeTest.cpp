#include "ScreenTest.h"

#include "base/System.h"
#include "params/NodeArray.h"
#include "params/NodeColor.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodeParList.h"
#include "params/NodePassword.h"
#include "ui/DrawerArray.h"
#include "ui/DrawerKeyboard.h"
#include "ui/DrawerList.h"
#include "ui/DrawerNode.h"
#include "ui/DrawerPopup.h"
#include "ui/DrawerSetup.h"
#include "ui/Glcd.h"
#include "ui/ImgHue.h"
#include "ui/ScreenFrame.h"

namespace {

constexpr int UP = EventCode::MAIN + EventCode::TURN_UP;
constexpr int DOWN = EventCode::MAIN + EventCode::TURN_DOWN;
constexpr int PRESS = EventCode::MAIN + EventCode::PUSH_PRESS;
constexpr int CLICK = EventCode::MAIN + EventCode::PUSH_CLICK;
constexpr int LONG = EventCode::MAIN + EventCode::PUSH_LONG;

// A node of type "action" that counts its runs (the browser knows actions by their type and
// description only).
class ActionStub : public Node {
public:
    ActionStub(Node* parent, const char* name, const char* type) : Node(parent, name, name), type(type) {}
    void* getStorageData(int* size) override
    {
        *size = 0;
        return nullptr;
    }
    void edit(bool) override { runs++; }
    bool fromString(std::string) override { return false; }
    std::string toString() override { return ""; }
    const char* getType() override { return "action"; }
    std::string getDescription() override { return std::string(",\"action_type\":\"") + type + "\""; }
    std::string getValueJSON() override { return "\"value\":\"idle\""; }
    void reset() override {}
    const char* type;
    int runs = 0;
};

struct Tree {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    NodeList* presets = keep(new NodeList(root, "irs", "Responses", "ir", 64, 6));
    NodeItem* app = keep(new NodeItem(root, "app", "Application", "", ItemType::SYSTEM));
    NodeItem* sys = keep(new NodeItem(root, "sys", "System", "", ItemType::SYSTEM));
    NodeItem* amp = keep(new NodeItem(app, "amp", "Amp", "", ItemType::HFOLDER));
    NodeOnOff* enable = keep(new NodeOnOff(amp, "Enable", "ON"));
    NodeFloat* gain = keep(new NodeFloat(amp, "gain", "Gain", 0, 10, 5, "dB", 0.5f, false));
    NodeEnum* type = keep(new NodeEnum(amp, "type", "Type", {"Clean", "Crunch", "Lead"}, "Clean"));
    NodeColor* color = keep(new NodeColor(amp, "clr", "Colour", "ff0000"));
    NodeItem* nick = keep(new NodeItem(amp, "nick", "Nickname", "old", ItemType::STRING));
    NodePassword* pwd = keep(new NodePassword(amp, "pwd", "Password", "secret", ItemType::STRING));
    ActionStub* confirm = keep(new ActionStub(amp, "wipe", "smp_cfm"));
    ActionStub* simple = keep(new ActionStub(amp, "blink", "smp"));
    NodeParList* ir = keep(new NodeParList(amp, "ir", "Cabinet", "", presets));
    NodeItem* eq = keep(new NodeItem(amp, "eq", "Equaliser", "", ItemType::VFOLDER));
    NodeFloat* bass = keep(new NodeFloat(eq, "bass", "Bass", -12, 12, 0, "dB", 0.5f, false));
    NodeFloat* hidden = keep(new NodeFloat(amp, "secret", "Secret", 0, 1, 0, "", 0.5f, false));
    NodeArray* curve = keep(new NodeArray(amp, "curve", "Curve", 8, 0, 100, "", 0, NodeArray::EncB2D0));
    NodeItem* small = keep(new NodeItem(app, "small", "Small", "", ItemType::VFOLDER));
    NodeItem* big = keep(new NodeItem(app, "big", "Big", "", ItemType::VFOLDER));

    Tree()
    {
        hidden->setStyleVisible(false);
        keep(new NodeFloat(small, "a", "Alpha", 0, 1, 0.5f, "", 0.5f, false));
        keep(new NodeFloat(small, "h", "Hidden", 0, 1, 0.5f, "", 0.5f, false))->setStyleVisible(false);
        keep(new NodeEnum(small, "b", "Beta", {"One", "Two"}, "One"));
        keep(new NodeItem(small, "c", "Gamma", "text", ItemType::SYSTEM));
        for (int i = 0; i < 11; i++) {
            std::string* name = new std::string("row" + std::to_string(i));
            keep(new NodeFloat(big, name->c_str(), name->c_str(), 0, 10, float(i), "", 0.5f, false));
        }
        System::root = root;
        System::app = app;
        System::system = sys;
    }
};

class DrawerNodeTest : public ScreenTest {
protected:
    // The home screen and the two overlays below, as on the unit.
    DrawerNode* open(Node* node)
    {
        if (below == nullptr) {
            below = new RecordingScreen;
            new RecordingScreen;
            new RecordingScreen;
        }
        return new DrawerNode(node);
    }

    // The rows' name labels (x 8), top to bottom.
    std::vector<std::string> names()
    {
        std::vector<std::string> rows;
        for (lv_obj_t* obj : of_class(&lv_label_class))
            if (area(obj).x1 == 8 && area(obj).y1 >= 40) rows.push_back(lv_label_get_text(obj));
        return rows;
    }

    Tree t;
    RecordingScreen* below = nullptr;
};

TEST_F(DrawerNodeTest, VisibleChildrenAndBackWithoutScrollBar)
{
    DrawerNode* browser = open(t.small);
    EXPECT_EQ(browser->itemCount(), 4);
    frame();
    EXPECT_TRUE(has_text("Small"));
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "Beta", "Gamma", "Back"}));
    EXPECT_TRUE(of_class(&lv_bar_class).empty());
    EXPECT_EQ(text_color(label("Alpha")), 0x000000u);
    // Values end at x 313; the selected row's highlight is 306 px wide.
    lv_obj_t* value = label("One");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(area(value).x2, 312);
    EXPECT_EQ(lv_obj_get_style_text_align(value, LV_PART_MAIN), LV_TEXT_ALIGN_RIGHT);
    EXPECT_EQ(pixel(312, 45), rgb565(0xFFFFFF));
    EXPECT_EQ(pixel(312, 70), rgb565(0x000000));
    check_screen("node_small");

    // The cursor stops on "Back"; a click there closes the browser.
    send({UP, UP, UP, UP, UP, UP});
    frame();
    EXPECT_EQ(text_color(label("Back")), 0x000000u);
    send({CLICK});
    EXPECT_EQ(depth(), 3);
}

TEST_F(DrawerNodeTest, RowTextsKeepTheirDescenders)
{
    auto* rigs = keep(new NodeItem(t.app, "rigs", "Rigs", "", ItemType::VFOLDER));
    keep(new NodeFloat(rigs, "a", "Alpha", 0, 1, 0, "", 0.5f, false));
    keep(new NodeFloat(rigs, "gig", "Gig rig", 0, 1, 0, "", 0.5f, false));
    open(rigs);
    frame();
    lv_obj_t* row = label("Gig rig");
    ASSERT_NE(row, nullptr);
    const lv_area_t a = area(row);
    EXPECT_EQ(a.y2 - a.y1 + 1, 20) << "a 20-px row";
    const lv_font_t* font = lv_obj_get_style_text_font(row, LV_PART_MAIN);
    const int baseline = a.y1 + font->line_height - font->base_line;
    // The name only, left of the value column.
    const lv_area_t inRow = ink(a.x1, a.y1, 130, a.y2);
    EXPECT_GT(inRow.y2, baseline + 1) << "the g's reach below the base line";

    // The same text in a label with room to spare inks exactly the same pixels: nothing was cut.
    std::vector<uint16_t> rowPixels;
    for (int y = a.y1; y <= a.y2; y++)
        for (int x = a.x1; x <= 130; x++) rowPixels.push_back(pixel(x, y));
    LCD::clear();
    create_screen_frame();
    lv_obj_t* roomy = lv_label_create(lv_screen_active());
    lv_obj_set_pos(roomy, a.x1, a.y1);
    lv_obj_set_size(roomy, 240, 60);
    lv_obj_set_style_text_font(roomy, font, 0);
    lv_obj_set_style_text_color(roomy, lv_color_white(), 0);
    lv_label_set_text(roomy, "Gig rig");
    render();
    const lv_area_t whole = ink(a.x1, a.y1, 130, a.y1 + 59);
    EXPECT_EQ(whole.y2, inRow.y2);
    EXPECT_EQ(whole.y1, inRow.y1);
    std::vector<uint16_t> roomyPixels;
    for (int y = a.y1; y <= a.y2; y++)
        for (int x = a.x1; x <= 130; x++) roomyPixels.push_back(pixel(x, y));
    EXPECT_EQ(rowPixels, roomyPixels);
}

TEST_F(DrawerNodeTest, TwelveRowsScrollOneRowAtATime)
{
    open(t.big);
    frame();
    auto bars = of_class(&lv_bar_class);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(lv_bar_get_max_value(bars[0]), 12);
    EXPECT_EQ(lv_bar_get_value(bars[0]), 12);
    EXPECT_EQ(lv_bar_get_start_value(bars[0]), 7);
    // With the scroll bar the rows are 14 px narrower.
    EXPECT_EQ(area(label("1.00")).x2, 298);
    EXPECT_EQ(pixel(298, 45), rgb565(0xFFFFFF));
    EXPECT_NE(pixel(304, 45), rgb565(0xFFFFFF));

    send({UP, UP, UP, UP});
    frame();
    EXPECT_EQ(names().front(), "row0");
    send({UP});
    frame();
    EXPECT_EQ(names().front(), "row1");
    EXPECT_EQ(names().back(), "row5");
    EXPECT_EQ(text_color(label("row5")), 0x000000u);
    EXPECT_EQ(lv_bar_get_value(of_class(&lv_bar_class)[0]), 11);

    send({UP, UP, UP, UP, UP, UP, UP, UP});
    frame();
    EXPECT_EQ(names().back(), "Back");
    check_screen("node_big_end");
    for (int i = 11; i > 0; i--) send({DOWN});
    frame();
    EXPECT_EQ(names().front(), "row0");
    EXPECT_EQ(text_color(label("row0")), 0x000000u);
    send({DOWN});
    frame();
    EXPECT_EQ(names().front(), "row0");
}

TEST_F(DrawerNodeTest, InlineEditStepsTheNodeAndLongPressResetsAFloat)
{
    open(t.amp);
    send({UP, CLICK, UP, UP, UP});
    EXPECT_GT(t.gain->getValue(), 5.0f);
    frame();
    // The edited value sits in an inverted box at the end of the rows (eleven rows: the scroll bar
    // takes the last 14 px); hidden children are not listed.
    lv_obj_t* value = label(t.gain->toString());
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(bg_color(value), 0xFFFFFFu);
    EXPECT_EQ(bg_opa(value), LV_OPA_COVER);
    EXPECT_EQ(text_color(value), 0x000000u);
    EXPECT_EQ(area(value).x2, 298);
    EXPECT_EQ(text_color(label("Gain")), 0xFFFFFFu);
    EXPECT_FALSE(has_text("Secret"));
    check_screen("node_inline_edit");

    send({LONG});
    EXPECT_EQ(t.gain->getValue(), 5.0f);
    send({UP}); // browsing again: the cursor moves
    EXPECT_EQ(t.gain->getValue(), 5.0f);

    // An enum: the long press only ends the edit.
    send({CLICK, UP, UP, LONG});
    EXPECT_STREQ(t.type->getValueText(), "Lead");
    send({UP, UP});
    EXPECT_STREQ(t.type->getValueText(), "Lead");

    // A click ends the edit too.
    send({DOWN, DOWN, DOWN, DOWN, CLICK, DOWN, CLICK, DOWN});
    EXPECT_STREQ(t.enable->getValueText(), "OFF");
}

TEST_F(DrawerNodeTest, OtherCodesPassBelowExceptKnobTurns)
{
    open(t.amp);
    send({16, 17, 46, 50, 51, 248, EventCode::MAIN + EventCode::PUSH_LONG_RELEASE, 42, 243});
    send({40, 41, 240, 241, 340, 341, 440, 441, EventCode::TICK, PRESS});
    auto* nearest = dynamic_cast<RecordingScreen*>(*std::prev(EventDispatcher::events.end(), 2));
    EXPECT_EQ(nearest->seen, (std::vector<int>{16, 17, 46, 50, 51, 248, 15, 42, 243}));

    // A long press opens the setup screen only on the application node.
    send({LONG});
    EXPECT_EQ(depth(), 4);
    open(t.app);
    send({LONG});
    EXPECT_NE(dynamic_cast<DrawerSetup*>(top()), nullptr);

    // Inactivity closes every browser and setup screen, one CLOSE each, and passes on.
    open(t.eq);
    send({EventCode::INACTIVITY});
    EXPECT_EQ(depth(), 3);
    EXPECT_EQ(nearest->seen.back(), EventCode::INACTIVITY);
}

TEST_F(DrawerNodeTest, ColourItemShowsAHueSliderInItsColour)
{
    open(t.amp);
    send({UP, UP, UP});
    frame();
    auto sliders = of_class(&lv_slider_class);
    ASSERT_EQ(sliders.size(), 1u);
    EXPECT_EQ(area(sliders[0]).x1, 199);
    EXPECT_EQ(lv_slider_get_value(sliders[0]), 0); // red: hue 0
    EXPECT_EQ(bg_color(sliders[0], LV_PART_KNOB), 0xFF0000u);
    EXPECT_EQ(bg_opa(sliders[0], LV_PART_INDICATOR), LV_OPA_TRANSP);
    EXPECT_EQ(lv_obj_get_style_bg_image_src(sliders[0], LV_PART_MAIN), &img_hue_10);

    send({CLICK, UP, UP, UP, UP, UP, UP, UP, UP, UP, UP, UP, UP}); // 60 degrees: yellow
    frame();
    sliders = of_class(&lv_slider_class);
    ASSERT_EQ(sliders.size(), 1u);
    EXPECT_EQ(lv_slider_get_value(sliders[0]), int(t.color->getHue() * 0.2777778f));
    EXPECT_EQ(bg_color(sliders[0], LV_PART_KNOB), uint32_t(std::strtol(t.color->getValue().c_str(), nullptr, 16)));
    // The white box behind the slider while it is edited.
    bool box = false;
    for (lv_obj_t* obj : of_class(&lv_label_class))
        if (area(obj).x1 == 189 && area(obj).x2 - area(obj).x1 + 1 == 110 && bg_color(obj) == 0xFFFFFF &&
            bg_opa(obj) == LV_OPA_COVER)
            box = true;
    EXPECT_TRUE(box);
    check_screen("node_colour_edit");
}

TEST_F(DrawerNodeTest, ConfirmedActionRunsOnlyAfterOk)
{
    open(t.amp);
    for (int i = 0; i < 6; i++) EventDispatcher::addEvent(UP);
    settle();
    // "Back" in the popup: nothing runs.
    send({CLICK, PRESS, CLICK});
    EXPECT_EQ(t.confirm->runs, 0);
    send({CLICK, UP, PRESS, CLICK});
    EXPECT_EQ(t.confirm->runs, 1);
    // A simple action runs at once, without a popup.
    send({UP, CLICK});
    EXPECT_EQ(t.simple->runs, 1);
    EXPECT_EQ(depth(), 4);
}

TEST_F(DrawerNodeTest, TextItemsAreEditedWithTheKeyboard)
{
    open(t.amp);
    send({UP, UP, UP, UP});
    std::vector<int> codes{CLICK};
    for (int code : keyboard_codes("x")) codes.push_back(code);
    send(codes);
    EXPECT_EQ(t.nick->getText(), "oldx");

    codes = {CLICK};
    for (int code : keyboard_codes("y", false)) codes.push_back(code);
    send(codes);
    EXPECT_EQ(t.nick->getText(), "oldx");

    // The password shows an empty value: a cancelled keyboard must not write it back.
    send({UP});
    codes = {CLICK};
    for (int code : keyboard_codes("", false)) codes.push_back(code);
    send(codes);
    EXPECT_EQ(t.pwd->getText(), "secret");
    codes = {CLICK};
    for (int code : keyboard_codes("new")) codes.push_back(code);
    send(codes);
    EXPECT_EQ(t.pwd->getText(), "new");
    // A popup says so: here, where the password has no file, that it was not saved.
    frame();
    EXPECT_TRUE(has_text("Password set") && has_text("Not saved: lost at the next start"));
    send({PRESS, CLICK});
    // OK on the empty text removes it.
    codes = {CLICK};
    for (int code : keyboard_codes("")) codes.push_back(code);
    send(codes);
    EXPECT_EQ(t.pwd->getText(), "");
}

TEST_F(DrawerNodeTest, FoldersOpenBrowsersAndSelectionsTheListScreen)
{
    open(t.amp);
    for (int i = 0; i < 9; i++) EventDispatcher::addEvent(UP);
    settle();
    send({CLICK});
    ASSERT_NE(dynamic_cast<DrawerNode*>(top()), nullptr);
    frame();
    EXPECT_TRUE(has_text("Equaliser"));
    EXPECT_TRUE(has_text("Bass"));
    send({EventCode::KNOB1 + EventCode::PUSH_CLICK});
    frame();
    EXPECT_TRUE(has_text("Amp"));
    // The parent kept its cursor: the folder row is still highlighted, with its arrow.
    EXPECT_EQ(text_color(label("Equaliser")), 0x000000u);
    EXPECT_TRUE(has_text(LV_SYMBOL_RIGHT));
    // A selection its block cannot play is not shown as if it played.
    t.ir->setUnplayable(true);
    frame();
    EXPECT_TRUE(has_text(LV_SYMBOL_WARNING " "));

    send({DOWN, CLICK});
    EXPECT_NE(dynamic_cast<DrawerList*>(top()), nullptr);

    // An array: the array editor.
    send({EventCode::KNOB1 + EventCode::PUSH_CLICK});
    send({UP, UP, CLICK});
    EXPECT_NE(dynamic_cast<DrawerArray*>(top()), nullptr);
}

TEST_F(DrawerNodeTest, ANodeWithoutChildrenOnlyWritesItsNameToTheMonochromeBuffer)
{
    open(t.gain);
    glcd_clear(0);
    frame();
    EXPECT_TRUE(of_class(&lv_label_class).empty());
    int set = 0;
    for (uint8_t byte : glcd_buffer) set += byte != 0;
    EXPECT_GT(set, 0);
}

TEST_F(DrawerNodeTest, CursorFollowsTheEditedRowWhenRowsAboveVanish)
{
    open(t.big);
    send({UP, UP, UP, UP, UP, UP, CLICK}); // row6 edited, rows 2..6 shown
    Node* row0 = t.big->childrenAt(0);
    Node* row1 = t.big->childrenAt(1);
    Node* row2 = t.big->childrenAt(2);
    row0->setStyleVisible(false);
    row1->setStyleVisible(false);
    row2->setStyleVisible(false);
    frame();
    // row6 is now the fourth visible child: the window starts at the first row, with no stray
    // "Back" rows above it, and the edit goes on.
    EXPECT_EQ(names(), (std::vector<std::string>{"row3", "row4", "row5", "row6", "row7"}));
    EXPECT_EQ(bg_color(label(t.big->childrenAt(6)->toString())), 0xFFFFFFu);
    send({UP});
    EXPECT_GT(static_cast<NodeFloat*>(t.big->childrenAt(6))->getValue(), 6.0f);
}

} // namespace
