// Scales: ticks, major ticks and their value labels.
#include "LvglTest.h"

namespace {

class ScaleTest : public LvglTest {};

TEST_F(ScaleTest, HorizontalScaleDrawsTicksAndValueLabels)
{
    lv_obj_t* scale = lv_scale_create(scr);
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
    check_screen("scale");
}

} // namespace
