// Message boxes: texts stacked in the content, equal footer buttons.
#include "LvglTest.h"

#include <vector>

namespace {

class MsgboxTest : public LvglTest {};

TEST_F(MsgboxTest, MessageBoxStacksTextsAndSpreadsFooterButtons)
{
    lv_obj_t* box = lv_msgbox_create(scr);
    lv_obj_set_size(box, 240, 120);
    lv_obj_set_style_pad_top(box, 15, 0);
    lv_obj_set_style_pad_bottom(box, 15, 0);
    lv_obj_t* title = lv_msgbox_add_text(box, "Are you sure?");
    lv_obj_t* text = lv_msgbox_add_text(box, "second line");
    std::vector<lv_obj_t*> buttons;
    for (const char* name : {"Back", "Ok", "Save"}) buttons.push_back(lv_msgbox_add_footer_button(box, name));
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
    for (size_t i = 0; i < buttons.size(); i++) {
        lv_area_t a;
        lv_obj_get_coords(buttons[i], &a);
        EXPECT_NEAR(lv_area_get_width(&a), width, 1);
        EXPECT_LE(a.y2, b.y2 - 15);
        EXPECT_GT(a.y1, t2.y2);
        if (i > 0) {
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
    check_screen("msgbox");
}

TEST_F(MsgboxTest, TitleComesFirstAndCloseDeletes)
{
    lv_obj_t* box = lv_msgbox_create(nullptr);
    EXPECT_EQ(lv_obj_get_parent(box), scr);
    lv_msgbox_add_text(box, "body");
    lv_obj_t* title = lv_msgbox_add_title(box, "Title");
    EXPECT_EQ(lv_msgbox_get_title(box), title);
    EXPECT_EQ(lv_obj_get_child(box, 0), lv_msgbox_get_header(box));
    EXPECT_EQ(lv_msgbox_get_footer(box), nullptr);
    lv_area_t t, body;
    lv_obj_get_coords(title, &t);
    lv_obj_get_coords(lv_obj_get_child(lv_msgbox_get_content(box), 0), &body);
    EXPECT_LT(t.y2, body.y1);
    lv_msgbox_close(box);
    EXPECT_EQ(lv_obj_get_child_count(scr), 0u);
}

} // namespace
