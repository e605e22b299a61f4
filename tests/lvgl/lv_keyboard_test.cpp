// Button matrices and keyboards: maps, widths, controls, user modes and the checked-key style.
#include "LvglTest.h"

#include <string>

namespace {

class KeyboardTest : public LvglTest {};

const char* const kMap[] = {"123", "a", "b", LV_SYMBOL_BACKSPACE, "\n", "ABC", "c", LV_SYMBOL_OK, nullptr};
const lv_buttonmatrix_ctrl_t kCtrl[] = {static_cast<lv_buttonmatrix_ctrl_t>(8), static_cast<lv_buttonmatrix_ctrl_t>(4),
                                        static_cast<lv_buttonmatrix_ctrl_t>(4), static_cast<lv_buttonmatrix_ctrl_t>(6),
                                        static_cast<lv_buttonmatrix_ctrl_t>(8), static_cast<lv_buttonmatrix_ctrl_t>(4),
                                        static_cast<lv_buttonmatrix_ctrl_t>(6)};
const char* const kDigits[] = {"ABC", "1", "2", "\n", "3", "", "4"};

TEST_F(KeyboardTest, KeyboardUserMapsWidthsAndCheckedKey)
{
    static lv_style_t pressed;
    lv_style_init(&pressed);
    lv_style_set_bg_color(&pressed, lv_color_white());
    lv_style_set_bg_opa(&pressed, LV_OPA_COVER);
    lv_style_set_text_color(&pressed, lv_color_black());

    lv_obj_t* kb = lv_keyboard_create(scr);
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
    check_screen("keyboard");

    /* a mode change shows the other map; its empty entry ends it early */
    lv_keyboard_set_mode(kb, LV_KEYBOARD_MODE_USER_3);
    EXPECT_EQ(lv_buttonmatrix_get_button_count(kb), 4u);
    EXPECT_FALSE(lv_buttonmatrix_has_button_ctrl(kb, 2, LV_BUTTONMATRIX_CTRL_CHECKED));
}

TEST_F(KeyboardTest, MatrixControlsHiddenWidthAndOneChecked)
{
    static const char* const map[] = {"A", "B", "C", ""};
    lv_obj_t* m = lv_buttonmatrix_create(scr);
    lv_obj_set_pos(m, 10, 10);
    lv_obj_set_size(m, 200, 60);
    lv_buttonmatrix_set_map(m, map);
    EXPECT_EQ(lv_buttonmatrix_get_button_count(m), 3u);
    EXPECT_EQ(lv_buttonmatrix_get_button_text(m, 3), nullptr);

    lv_area_t a0, a1, a2;
    lv_buttonmatrix_get_button_area(m, 0, &a0);
    lv_buttonmatrix_get_button_area(m, 1, &a1);
    EXPECT_NEAR(lv_area_get_width(&a0), lv_area_get_width(&a1), 1);
    lv_buttonmatrix_set_button_width(m, 1, 2);
    lv_buttonmatrix_get_button_area(m, 0, &a0);
    lv_buttonmatrix_get_button_area(m, 1, &a1);
    lv_buttonmatrix_get_button_area(m, 2, &a2);
    EXPECT_NEAR(lv_area_get_width(&a1), 2 * lv_area_get_width(&a0), 2);
    EXPECT_LT(a0.x2, a1.x1);
    EXPECT_LT(a1.x2, a2.x1);

    lv_buttonmatrix_set_one_checked(m, true);
    lv_buttonmatrix_set_button_ctrl(m, 0, LV_BUTTONMATRIX_CTRL_CHECKED);
    lv_buttonmatrix_set_button_ctrl(m, 2, LV_BUTTONMATRIX_CTRL_CHECKED);
    EXPECT_FALSE(lv_buttonmatrix_has_button_ctrl(m, 0, LV_BUTTONMATRIX_CTRL_CHECKED));
    EXPECT_TRUE(lv_buttonmatrix_has_button_ctrl(m, 2, LV_BUTTONMATRIX_CTRL_CHECKED));
    lv_buttonmatrix_clear_button_ctrl(m, 2, LV_BUTTONMATRIX_CTRL_CHECKED);
    EXPECT_FALSE(lv_buttonmatrix_has_button_ctrl(m, 2, LV_BUTTONMATRIX_CTRL_CHECKED));
    /* out of range ids are ignored */
    lv_buttonmatrix_set_button_ctrl(m, 7, LV_BUTTONMATRIX_CTRL_CHECKED);
    EXPECT_FALSE(lv_buttonmatrix_has_button_ctrl(m, 7, LV_BUTTONMATRIX_CTRL_CHECKED));

    /* a hidden button keeps its place but is not drawn */
    lv_obj_set_style_bg_color(m, lv_color_hex(0x00FF00), LV_PART_ITEMS);
    lv_buttonmatrix_set_button_ctrl(m, 1, LV_BUTTONMATRIX_CTRL_HIDDEN);
    render();
    lv_buttonmatrix_get_button_area(m, 1, &a1);
    lv_buttonmatrix_get_button_area(m, 2, &a2);
    EXPECT_NE(pixel((a1.x1 + a1.x2) / 2, a1.y1 + 3), rgb565(0x00FF00));
    EXPECT_EQ(pixel((a2.x1 + a2.x2) / 2, a2.y1 + 3), rgb565(0x00FF00));
}

TEST_F(KeyboardTest, TextModesHaveBuiltInMapsAndTheKeyboardSitsAtTheBottom)
{
    lv_obj_t* kb = lv_keyboard_create(scr);
    EXPECT_EQ(lv_keyboard_get_mode(kb), LV_KEYBOARD_MODE_TEXT_LOWER);
    EXPECT_GT(lv_buttonmatrix_get_button_count(kb), 26u);
    std::string lower = lv_keyboard_get_button_text(kb, 1);
    lv_keyboard_set_mode(kb, LV_KEYBOARD_MODE_TEXT_UPPER);
    std::string upper = lv_keyboard_get_button_text(kb, 1);
    EXPECT_NE(lower, upper);
    lv_area_t a;
    lv_obj_get_coords(kb, &a);
    EXPECT_EQ(a.y2, 169);
    EXPECT_EQ(lv_area_get_width(&a), 320);
    EXPECT_EQ(lv_area_get_height(&a), 85);
    /* a user mode without a map has no keys */
    lv_keyboard_set_mode(kb, LV_KEYBOARD_MODE_USER_4);
    EXPECT_EQ(lv_buttonmatrix_get_button_count(kb), 0u);
    render();
}

} // namespace
