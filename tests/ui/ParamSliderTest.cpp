#include "UiTest.h"

#include <string>

#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"
#include "ui/ImgHue.h"
#include "ui/ParamSlider.h"
#include "ui/ScreenFrame.h"
#include "ui/UiFonts.h"

namespace {

// Nodes live for the whole program; tests keep theirs reachable the same way.
template <class T>
T* keep(T* node)
{
    static auto* nodes = new std::vector<Node*>;
    nodes->push_back(node);
    return node;
}

struct Tree {
    NodeItem* root = keep(new NodeItem(nullptr, "root", "Root", "", ItemType::SYSTEM));
    NodeItem* amp = keep(new NodeItem(root, "amp", "Amp", "", ItemType::HFOLDER));
    NodeOnOff* enable = keep(new NodeOnOff(amp, "Enable", "ON"));
    NodeFloat* gain = keep(new NodeFloat(amp, "gain", "Gain", 0, 10, 5, "dB", 0.5f, false));
    NodeFloat* cut = keep(new NodeFloat(amp, "cut", "Cut", 0, 10, 0, "dB", 0.5f, true));
    NodeEnum* type = keep(new NodeEnum(amp, "type", "Type", {"Clean", "Crunch"}, "Crunch"));
    NodeItem* name = keep(new NodeItem(amp, "name", "A display name far too long for the box", "x", ItemType::STRING));
    NodeItem* sub = keep(new NodeItem(amp, "eq", "EQ", "", ItemType::MODULE));
    NodeFloat* bass = keep(new NodeFloat(sub, "bass", "Bass", 0, 1, 1, "", 0.5f, false));
    NodeFloat* loose = keep(new NodeFloat(root, "level", "Level", 0, 1, 1, "", 0.5f, false));

    Tree() { amp->setStyleColor(0xFF6600); }
};

class ParamSliderTest : public UiTest {
protected:
    // The widgets of the last box: bar (when any), value label (when any), title label.
    std::vector<lv_obj_t*> box(int x, Node* node, int color, const char* title = nullptr, const char* text = nullptr)
    {
        size_t before = widgets().size();
        create_param_slider(lv_screen_active(), x, node, color, title, text);
        auto all = widgets();
        return std::vector<lv_obj_t*>(all.begin() + before, all.end());
    }

    Tree t;
};

TEST_F(ParamSliderTest, ColourOfTheBlockDimmedWhenItIsOff)
{
    struct Case {
        const char* enable;
        uint32_t blockColor;
        Node* node;
        int expected;
    };
    const Case cases[] =
        {
            {"ON", 0xFF6600, t.gain, 0xFF6600},   {"OFF", 0xFF6600, t.gain, 0x7F6600},
            {"ON", 0x000000, t.gain, 0xFFFFFF},   {"OFF", 0x000000, t.gain, 0x7F7F7F},
            {"OFF", 0xFF6600, t.bass, 0xFFFFFF}, /* its own folder has no colour and no switch */
            {"OFF", 0xFF6600, t.loose, 0xFFFFFF}, {"OFF", 0xFF6600, t.root, 0xFFFFFF},
            {"OFF", 0xFF6600, nullptr, 0xFFFFFF},
        };
    for (const Case& c : cases) {
        t.enable->setValue(c.enable);
        t.amp->setStyleColor(static_cast<int>(c.blockColor));
        EXPECT_EQ(get_param_color(c.node), c.expected)
            << (c.node ? c.node->getName() : "null") << " " << c.enable << " " << std::hex << c.blockColor;
    }
}

TEST_F(ParamSliderTest, FloatBoxBarFollowsTheSliderPosition)
{
    struct Case {
        NodeFloat* node;
        float value;
        int expected;
    };
    const Case cases[] = {
        {t.gain, 0.0f, 0},  {t.gain, 10.0f, 100}, {t.gain, 5.0f, 50},
        {t.cut, 0.0f, 100}, {t.cut, 10.0f, 0},    {t.cut, 2.5f, 75},
    };
    for (const Case& c : cases) {
        LCD::clear();
        c.node->setValue(c.value);
        auto w = box(78, c.node, 0xFF6600);
        ASSERT_EQ(w.size(), 2u);
        ASSERT_TRUE(lv_obj_check_type(w[0], &lv_bar_class));
        EXPECT_EQ(lv_bar_get_value(w[0]), c.expected) << c.node->getName() << " " << c.value;
        EXPECT_EQ(lv_bar_get_min_value(w[0]), 0);
        EXPECT_EQ(lv_bar_get_max_value(w[0]), 100);
    }
}

TEST_F(ParamSliderTest, BoxesByTypeWithTheirGeometryAndLook)
{
    t.enable->setValue("OFF");
    auto floatBox = box(0, t.gain, get_param_color(t.gain));
    auto enumBox = box(78, t.type, 0xFFFFFF);
    auto textBox = box(156, t.name, 0xFFFFFF);
    auto emptyBox = box(234, nullptr, 0xFFFFFF, "Preset", "01A");

    ASSERT_EQ(floatBox.size(), 2u);
    lv_obj_t* bar = floatBox[0];
    lv_area_t a = area(bar);
    EXPECT_EQ(a.x1, 7);
    EXPECT_EQ(a.y1, 146);
    EXPECT_EQ(lv_area_get_width(&a), 72);
    EXPECT_EQ(lv_area_get_height(&a), 17);
    EXPECT_EQ(rgb(lv_obj_get_style_bg_color(bar, LV_PART_INDICATOR)), 0x7F6600u);
    EXPECT_EQ(lv_obj_get_style_bg_opa(bar, LV_PART_INDICATOR), LV_OPA_COVER);
    EXPECT_EQ(lv_obj_get_style_radius(bar, LV_PART_INDICATOR), 0);
    EXPECT_EQ(rgb(lv_obj_get_style_border_color(bar, LV_PART_MAIN)), 0xFFFFFFu);
    EXPECT_EQ(lv_obj_get_style_border_width(bar, LV_PART_MAIN), 1);
    EXPECT_EQ(lv_obj_get_style_bg_opa(bar, LV_PART_MAIN), LV_OPA_TRANSP);
    EXPECT_EQ(lv_obj_get_style_radius(bar, LV_PART_MAIN), 5);
    EXPECT_TRUE(lv_obj_get_style_border_post(bar, LV_PART_MAIN));
    EXPECT_EQ(lv_obj_get_style_border_side(bar, LV_PART_MAIN), LV_BORDER_SIDE_FULL);
    lv_obj_t* title = floatBox[1];
    EXPECT_STREQ(lv_label_get_text(title), "Gain");
    a = area(title);
    EXPECT_EQ(a.x1, 7);
    EXPECT_EQ(a.y1, 129);
    EXPECT_EQ(lv_area_get_width(&a), 72);
    EXPECT_EQ(lv_area_get_height(&a), 16);
    EXPECT_EQ(lv_label_get_long_mode(title), LV_LABEL_LONG_DOT);
    EXPECT_EQ(lv_obj_get_style_text_align(title, LV_PART_MAIN), LV_TEXT_ALIGN_CENTER);
    EXPECT_EQ(lv_obj_get_style_text_font(title, LV_PART_MAIN), &lv_font_montserrat_14);

    /* an enum: its value under a line, its block's switch-off dims the given colour */
    ASSERT_EQ(enumBox.size(), 3u);
    EXPECT_EQ(lv_bar_get_value(enumBox[0]), 0);
    EXPECT_EQ(lv_obj_get_style_border_side(enumBox[0], LV_PART_MAIN), LV_BORDER_SIDE_TOP);
    EXPECT_EQ(rgb(lv_obj_get_style_bg_color(enumBox[0], LV_PART_INDICATOR)), 0x7F7F7Fu);
    EXPECT_STREQ(lv_label_get_text(enumBox[1]), "Crunch");
    a = area(enumBox[1]);
    EXPECT_EQ(a.x1, 78 + 6);
    EXPECT_EQ(a.y1, 148);
    EXPECT_EQ(lv_area_get_width(&a), 74);
    EXPECT_STREQ(lv_label_get_text(enumBox[2]), "Type");

    /* any other node: only its title */
    ASSERT_EQ(textBox.size(), 1u);
    EXPECT_TRUE(lv_obj_check_type(textBox[0], &lv_label_class));

    /* no node: an empty box with the given texts */
    ASSERT_EQ(emptyBox.size(), 3u);
    EXPECT_EQ(lv_bar_get_value(emptyBox[0]), 0);
    EXPECT_EQ(lv_obj_get_style_border_side(emptyBox[0], LV_PART_MAIN), LV_BORDER_SIDE_FULL);
    EXPECT_STREQ(lv_label_get_text(emptyBox[1]), "01A");
    EXPECT_STREQ(lv_label_get_text(emptyBox[2]), "Preset");
    EXPECT_EQ(area(emptyBox[2]).x1, 234 + 7);

    /* no node and a missing text: nothing */
    EXPECT_TRUE(box(0, nullptr, 0xFFFFFF, "Preset", nullptr).empty());
    EXPECT_TRUE(box(0, nullptr, 0xFFFFFF, nullptr, "x").empty());
    create_param_slider(nullptr, 0, t.gain, 0xFFFFFF, nullptr, nullptr);
}

TEST_F(ParamSliderTest, NodesNearTheRootAndNestedFoldersDim)
{
    t.enable->setValue("OFF");
    /* a parameter in a sub-folder of a switched-off block is dimmed through its grandparent */
    auto nested = box(0, t.bass, 0xFF6600);
    EXPECT_EQ(rgb(lv_obj_get_style_bg_color(nested[0], LV_PART_INDICATOR)), 0x7F6600u);
    /* under the root and the root itself: no grandparent, no parent */
    auto top = box(78, t.loose, 0xFF6600);
    EXPECT_EQ(rgb(lv_obj_get_style_bg_color(top[0], LV_PART_INDICATOR)), 0xFF6600u);
    auto root = box(156, t.root, 0xFF6600);
    ASSERT_EQ(root.size(), 1u);
    EXPECT_STREQ(lv_label_get_text(root[0]), "Root");
}

TEST_F(ParamSliderTest, FrameWithBoxesOnTheFrame)
{
    t.enable->setValue("OFF");
    t.gain->setValue(5.0f);
    lv_obj_t* frame = create_screen_frame();
    ASSERT_NE(frame, nullptr);
    create_screen_title("Amp");
    create_rule(7, 33, 306);
    create_param_slider(lv_screen_active(), 0, t.gain, get_param_color(t.gain), nullptr, nullptr);
    create_param_slider(lv_screen_active(), 78, t.type, 0xFFFFFF, nullptr, nullptr);
    create_param_slider(lv_screen_active(), 156, t.name, 0xFFFFFF, nullptr, nullptr);
    t.enable->setValue("ON");
    t.cut->setValue(0.0f);
    create_param_slider(lv_screen_active(), 234, t.cut, get_param_color(t.cut), nullptr, nullptr);
    render();
    check_screen("ui_frame_params");

    /* the frame covers the dark theme's screen: black corners, border and middle */
    for (auto p : {std::pair{0, 0}, {319, 0}, {0, 169}, {319, 169}, {6, 100}, {160, 80}}) {
        EXPECT_EQ(pixel(p.first, p.second), rgb565(0x000000)) << p.first << "," << p.second;
    }
    EXPECT_EQ(rgb(lv_obj_get_style_bg_grad_color(frame, LV_PART_MAIN)), 0x000000u);
    EXPECT_EQ(lv_obj_get_style_bg_main_stop(frame, LV_PART_MAIN), 50);
    lv_area_t frameArea = area(frame);
    EXPECT_EQ(frameArea.x1, 0);
    EXPECT_EQ(frameArea.y1, 0);
    EXPECT_EQ(frameArea.x2, 319);
    EXPECT_EQ(frameArea.y2, 169);
    EXPECT_EQ(lv_obj_get_style_border_width(frame, LV_PART_MAIN), 7);
    EXPECT_EQ(lv_obj_get_style_pad_left(frame, LV_PART_MAIN), 0);
    EXPECT_EQ(lv_obj_get_style_radius(frame, LV_PART_MAIN), 0);

    /* a half-way float fills half its bar in the dimmed colour (the border covers the edges) */
    int filled = 0;
    for (int x = 7; x <= 78; x++) filled += pixel(x, 154) == rgb565(0x7F6600);
    EXPECT_NEAR(filled, 36 - 1, 1);
    /* the inverted float at its minimum fills the whole bar */
    filled = 0;
    for (int x = 241; x <= 312; x++) filled += pixel(x, 154) == rgb565(0xFF6600);
    EXPECT_NEAR(filled, 70, 1);

    /* the title is centred in its label, inside its rectangle */
    lv_area_t titleInk = ink(7, 129, 78, 144);
    EXPECT_NEAR((titleInk.x1 + titleInk.x2) / 2, 7 + 36, 2);
    EXPECT_GE(titleInk.y1, 129);

    /* the long display name ends in dots and stays inside its 72 px */
    lv_obj_t* longTitle = widgets().back();
    for (lv_obj_t* w : widgets()) {
        if (lv_obj_check_type(w, &lv_label_class) && std::string(lv_label_get_text(w)).rfind("A display", 0) == 0) {
            longTitle = w;
        }
    }
    std::string drawn = lv_label_get_text_drawn(longTitle);
    EXPECT_EQ(drawn.substr(drawn.size() - 3), "...");
    lv_area_t nameInk = ink(150, 129, 240, 144);
    EXPECT_GE(nameInk.x1, 156 + 7);
    EXPECT_LE(nameInk.x2, 156 + 7 + 71);
}

TEST_F(ParamSliderTest, ProgramFontsAndHueStrip)
{
    EXPECT_EQ(ui_font_arzet_light102.line_height, 101);
    EXPECT_EQ(ui_font_arzet_light102.base_line, 19);
    EXPECT_EQ(ui_font_sans110.underline_thickness, 12);
    lv_font_glyph_dsc_t g;
    EXPECT_TRUE(lv_font_get_glyph_dsc(&ui_font_arzet_light102, &g, '7', 0));
    EXPECT_FALSE(lv_font_get_glyph_dsc(&ui_font_azer60, &g, 0xE9, 0)) << "one range: 0x20..0x7E";
    /* digits fit above the base line of the preset number's label */
    apply_default_theme();
    lv_obj_t* number = lv_label_create(lv_screen_active());
    lv_obj_set_pos(number, 5, 37);
    lv_obj_set_size(number, 209, 84);
    lv_obj_set_style_text_font(number, &ui_font_arzet_light102, 0);
    lv_obj_set_style_text_color(number, lv_color_white(), 0);
    lv_label_set_text(number, "02B");
    render();
    lv_area_t digits = ink(0, 0, 319, 169, 0x15171A);
    EXPECT_GE(digits.y1, 37);
    EXPECT_LE(digits.y2, 37 + 101 - 19 + 1); /* round digits overshoot the base line by a pixel */

    ASSERT_EQ(img_hue_10.header.w, 90u);
    ASSERT_EQ(img_hue_10.header.h, 10u);
    auto at = [](int x) { return static_cast<uint16_t>(img_hue_10.data[x * 2] | (img_hue_10.data[x * 2 + 1] << 8)); };
    EXPECT_EQ(at(0), rgb565(0xFF0000));
    EXPECT_EQ(at(30), rgb565(0x00FF00));
    EXPECT_EQ(at(60), rgb565(0x0000FF));
}

} // namespace
