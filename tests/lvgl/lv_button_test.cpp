// Buttons: content placed by alignment inside the button.
#include "LvglTest.h"

namespace {

class ButtonTest : public LvglTest {};

TEST_F(ButtonTest, ButtonCentresItsLabel)
{
    lv_obj_t* button = lv_button_create(scr);
    lv_obj_set_pos(button, 20, 20);
    lv_obj_set_size(button, 55, 55);
    lv_obj_t* text = lv_label_create(button);
    lv_label_set_text(text, "Amp");
    lv_obj_center(text);
    lv_obj_t* corner = lv_label_create(button);
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

} // namespace
