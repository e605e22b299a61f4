// Line, button, scale, button matrix, keyboard and message box.
#include "LvglTest.h"

#include <string>
#include <vector>

namespace {

class WidgetsTest : public LvglTest {};

TEST_F(WidgetsTest, LineRuleSpansItsPoints)
{
    static const lv_point_precise_t points[] = {{0, 0}, {306, 0}};
    lv_obj_t * line = lv_line_create(scr);
    lv_obj_set_pos(line, 7, 33);
    lv_line_set_points(line, points, 2);
    lv_obj_set_style_line_color(line, lv_color_hex(0x00FF00), 0);
    lv_area_t a;
    lv_obj_get_coords(line, &a);
    EXPECT_EQ(a.x1, 7);
    EXPECT_EQ(a.y1, 33);
    EXPECT_EQ(lv_obj_get_width(line), 307);
    render();
    InkBox box = ink(0, 0, 319, 169);
    EXPECT_EQ(box.x1, 7);
    EXPECT_EQ(box.x2, 313);
    EXPECT_EQ(box.y1, 33);
    EXPECT_EQ(box.y2, 33);
    EXPECT_EQ(pixel(100, 33), rgb565(0x00FF00));
}

TEST_F(WidgetsTest, ButtonCentresItsLabel)
{
    lv_obj_t * button = lv_button_create(scr);
    lv_obj_set_pos(button, 20, 20);
    lv_obj_set_size(button, 55, 55);
    lv_obj_t * text = lv_label_create(button);
    lv_label_set_text(text, "Amp");
    lv_obj_center(text);
    lv_obj_t * corner = lv_label_create(button);
    lv_label_set_text(corner, "2");
    lv_obj_align(corner, LV_ALIGN_CENTER, 18, 15);
    lv_area_t b, t, c;
    lv_obj_get_coords(button, &b);
    lv_obj_get_coords(text, &t);
    lv_obj_get_coords(corner, &c);
    EXPECT_NEAR((t.x1 + t.x2) / 2, (b.x1 + b.x2) / 2, 1);
    EXPECT_NEAR((t.y1 + t.y2) / 2, (b.y1 + b.y2) / 2, 1);
    EXPECT_NEAR((c.x1 + c.x2) / 2, (b.x1 + b.x2) / 2 + 18, 1);
    EXPECT_NEAR((c.y1 + c.y2) / 2, (b.y1 + b.y2) / 2 + 15, 1);
}

TEST_F(WidgetsTest, HorizontalScaleDrawsTicksAndValueLabels)
{
    lv_obj_t * scale = lv_scale_create(scr);
    lv_obj_set_pos(scale, 18, 73);
    lv_obj_set_size(scale, 284, 40);
    lv_scale_set_mode(scale, LV_SCALE_MODE_HORIZONTAL_BOTTOM);
    lv_scale_set_range(scale, -50, 50);
    lv_scale_set_total_tick_count(scale, 21);
    lv_scale_set_major_tick_every(scale, 5);
    lv_scale_set_label_show(scale, true);
    lv_obj_set_style_length(scale, 5, LV_PART_ITEMS);
    lv_obj_set_style_length(scale, 10, LV_PART_INDICATOR);
    lv_obj_set_style_line_width(scale, 0, LV_PART_MAIN);
    render();
    /* ticks every 283 / 20 px: minor ticks end 5 px below the top, major ones 10 px */
    int32_t major_x = 18 + 283 * 5 / 20;
    int32_t minor_x = 18 + 283 * 1 / 20;
    EXPECT_FALSE(ink(major_x, 73 + 6, major_x, 73 + 9).empty());
    EXPECT_TRUE(ink(minor_x, 73 + 6, minor_x, 73 + 9).empty());
    EXPECT_FALSE(ink(minor_x, 73, minor_x, 73 + 4).empty());
    /* labels under the major ticks, none under the minor ones */
    EXPECT_FALSE(ink(major_x - 6, 86, major_x + 6, 112).empty());
    EXPECT_TRUE(ink(minor_x - 3, 86, minor_x + 3, 112).empty());
    snapshot("scale");
}

const char * const kMap[] = {"123", "a", "b", LV_SYMBOL_BACKSPACE, "\n", "ABC", "c", LV_SYMBOL_OK, nullptr};
const lv_buttonmatrix_ctrl_t kCtrl[] = {static_cast<lv_buttonmatrix_ctrl_t>(8), static_cast<lv_buttonmatrix_ctrl_t>(4),
                                        static_cast<lv_buttonmatrix_ctrl_t>(4), static_cast<lv_buttonmatrix_ctrl_t>(6),
                                        static_cast<lv_buttonmatrix_ctrl_t>(8), static_cast<lv_buttonmatrix_ctrl_t>(4),
                                        static_cast<lv_buttonmatrix_ctrl_t>(6)};
const char * const kDigits[] = {"ABC", "1", "2", "\n", "3", "", "4"};

TEST_F(WidgetsTest, KeyboardUserMapsWidthsAndCheckedKey)
{
    static lv_style_t pressed;
    lv_style_init(&pressed);
    lv_style_set_bg_color(&pressed, lv_color_white());
    lv_style_set_bg_opa(&pressed, LV_OPA_COVER);
    lv_style_set_text_color(&pressed, lv_color_black());

    lv_obj_t * kb = lv_keyboard_create(scr);
    lv_keyboard_set_map(kb, LV_KEYBOARD_MODE_USER_1, kMap, kCtrl);
    lv_keyboard_set_map(kb, LV_KEYBOARD_MODE_USER_3, kDigits, kCtrl);
    lv_keyboard_set_mode(kb, LV_KEYBOARD_MODE_USER_1);
    lv_obj_add_style(kb, &pressed, LV_PART_ITEMS | LV_STATE_CHECKED);
    lv_obj_set_pos(kb, 6, 73);
    lv_obj_set_size(kb, 308, 90);
    lv_obj_set_align(kb, LV_ALIGN_DEFAULT);
    lv_buttonmatrix_set_button_ctrl(kb, 2, LV_BUTTONMATRIX_CTRL_CHECKED);

    EXPECT_EQ(lv_keyboard_get_mode(kb), LV_KEYBOARD_MODE_USER_1);
    EXPECT_EQ(lv_buttonmatrix_get_button_count(kb), 7u);
    EXPECT_STREQ(lv_buttonmatrix_get_button_text(kb, 4), "ABC");
    EXPECT_TRUE(lv_buttonmatrix_has_button_ctrl(kb, 2, LV_BUTTONMATRIX_CTRL_CHECKED));
    EXPECT_FALSE(lv_buttonmatrix_has_button_ctrl(kb, 1, LV_BUTTONMATRIX_CTRL_CHECKED));

    lv_area_t kb_area, first, second, last;
    lv_obj_get_coords(kb, &kb_area);
    EXPECT_EQ(kb_area.x1, 6);
    EXPECT_EQ(kb_area.y1, 73);
    lv_buttonmatrix_get_button_area(kb, 0, &first);
    lv_buttonmatrix_get_button_area(kb, 1, &second);
    lv_buttonmatrix_get_button_area(kb, 3, &last);
    /* widths 8 : 4 : 4 : 6 share the row */
    EXPECT_NEAR(lv_area_get_width(&first), 2 * lv_area_get_width(&second), 2);
    EXPECT_GT(first.x1, kb_area.x1);
    EXPECT_LT(last.x2, kb_area.x2);
    lv_area_t row2;
    lv_buttonmatrix_get_button_area(kb, 4, &row2);
    EXPECT_GT(row2.y1, first.y2);

    render();
    lv_area_t checked;
    lv_buttonmatrix_get_button_area(kb, 2, &checked);
    EXPECT_EQ(pixel(checked.x1 + 2, checked.y1 + 2), rgb565(0xFFFFFF)) << "checked key drawn white";
    EXPECT_NE(pixel(second.x1 + 2, second.y1 + 2), rgb565(0xFFFFFF));
    /* the checked key's text is black on white */
    EXPECT_FALSE(ink(checked.x1 + 1, checked.y1 + 1, checked.x2 - 1, checked.y2 - 1, 0xFFFFFF).empty());
    snapshot("keyboard");

    /* a mode change shows the other map; its empty entry ends it early */
    lv_keyboard_set_mode(kb, LV_KEYBOARD_MODE_USER_3);
    EXPECT_EQ(lv_buttonmatrix_get_button_count(kb), 4u);
    EXPECT_FALSE(lv_buttonmatrix_has_button_ctrl(kb, 2, LV_BUTTONMATRIX_CTRL_CHECKED));
}

TEST_F(WidgetsTest, MessageBoxStacksTextsAndSpreadsFooterButtons)
{
    lv_obj_t * box = lv_msgbox_create(scr);
    lv_obj_set_size(box, 240, 120);
    lv_obj_set_style_pad_top(box, 15, 0);
    lv_obj_set_style_pad_bottom(box, 15, 0);
    lv_obj_t * title = lv_msgbox_add_text(box, "Are you sure?");
    lv_obj_t * text = lv_msgbox_add_text(box, "second line");
    std::vector<lv_obj_t *> buttons;
    for(const char * name : {"Back", "Ok", "Save"}) buttons.push_back(lv_msgbox_add_footer_button(box, name));
    lv_obj_set_style_bg_color(buttons[1], lv_color_white(), 0);

    lv_area_t b, t1, t2;
    lv_obj_get_coords(box, &b);
    EXPECT_EQ(b.x1, 40);
    EXPECT_EQ(b.y1, 25);
    EXPECT_EQ(lv_area_get_width(&b), 240);
    lv_obj_get_coords(title, &t1);
    lv_obj_get_coords(text, &t2);
    EXPECT_GT(t2.y1, t1.y2);
    EXPECT_GE(t1.y1, b.y1 + 15);

    int32_t width = lv_obj_get_width(buttons[0]);
    lv_area_t prev = {0, 0, 0, 0};
    for(size_t i = 0; i < buttons.size(); i++) {
        lv_area_t a;
        lv_obj_get_coords(buttons[i], &a);
        EXPECT_NEAR(lv_area_get_width(&a), width, 1);
        EXPECT_LE(a.y2, b.y2 - 15);
        EXPECT_GT(a.y1, t2.y2);
        if(i > 0) {
            EXPECT_GT(a.x1, prev.x2);
        }
        prev = a;
        EXPECT_STREQ(lv_label_get_text(lv_obj_get_child(buttons[i], 0)), i == 0 ? "Back" : i == 1 ? "Ok" : "Save");
    }
    EXPECT_EQ(lv_obj_get_parent(buttons[0]), lv_msgbox_get_footer(box));
    EXPECT_EQ(lv_obj_get_parent(title), lv_msgbox_get_content(box));
    render();
    lv_area_t ok;
    lv_obj_get_coords(buttons[1], &ok);
    EXPECT_EQ(pixel((ok.x1 + ok.x2) / 2, ok.y1 + 1), rgb565(0xFFFFFF));
    snapshot("msgbox");
}

} // namespace
