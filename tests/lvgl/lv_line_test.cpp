// Lines: points relative to the object, size from the points, width and direction.
#include "LvglTest.h"

namespace {

class LineTest : public LvglTest {};

TEST_F(LineTest, LineRuleSpansItsPoints)
{
    static const lv_point_precise_t points[] = {{0, 0}, {306, 0}};
    lv_obj_t* line = lv_line_create(scr);
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

TEST_F(LineTest, WidthDirectionAndInversion)
{
    static const lv_point_precise_t vertical[] = {{0, 0}, {0, 20}};
    lv_obj_t* line = lv_line_create(scr);
    lv_obj_set_pos(line, 50, 10);
    lv_line_set_points(line, vertical, 2);
    lv_obj_set_style_line_width(line, 3, 0);
    lv_obj_set_style_line_color(line, lv_color_white(), 0);
    EXPECT_EQ(lv_obj_get_width(line), 3);
    EXPECT_EQ(lv_obj_get_height(line), 23);
    render();
    InkBox box = ink(0, 0, 319, 169);
    EXPECT_EQ(box.x2 - box.x1 + 1, 3);
    EXPECT_EQ(box.y1, 10);
    EXPECT_EQ(box.y2, 30);

    /* a diagonal goes down to the right; inverted it goes up */
    static const lv_point_precise_t diagonal[] = {{0, 0}, {40, 40}};
    lv_obj_clean(scr);
    line = lv_line_create(scr);
    lv_obj_set_pos(line, 100, 100);
    lv_line_set_points(line, diagonal, 2);
    lv_obj_set_style_line_width(line, 2, 0);
    lv_obj_set_style_line_color(line, lv_color_white(), 0);
    render();
    EXPECT_FALSE(ink(102, 102, 104, 104).empty());
    EXPECT_TRUE(ink(100, 135, 106, 141).empty());
    lv_line_set_y_invert(line, true);
    render();
    EXPECT_FALSE(ink(100, 135, 106, 141).empty());
    EXPECT_TRUE(ink(102, 102, 104, 104).empty());

    /* too few points draw nothing */
    lv_line_set_points(line, diagonal, 1);
    render();
    EXPECT_TRUE(ink(0, 0, 319, 169).empty());
    EXPECT_EQ(lv_line_get_point_count(line), 1u);
}

} // namespace
