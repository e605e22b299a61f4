// Base objects: the tree, the layout, styles and their precedence, clipping, scrolling.
#include "LvglTest.h"

#include <vector>

namespace {

class ObjTest : public LvglTest {
protected:
    /* A plain box without the theme's card look. */
    lv_obj_t* box(lv_obj_t* parent, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color)
    {
        lv_obj_t* o = lv_obj_create(parent);
        lv_obj_remove_style_all(o);
        lv_obj_set_pos(o, x, y);
        lv_obj_set_size(o, w, h);
        lv_obj_set_style_bg_color(o, lv_color_hex(color), 0);
        lv_obj_set_style_bg_opa(o, LV_OPA_COVER, 0);
        return o;
    }
};

lv_obj_tree_walk_res_t count_labels(lv_obj_t* obj, void* user_data)
{
    if (lv_obj_check_type(obj, &lv_label_class)) (*static_cast<int*>(user_data))++;
    return LV_OBJ_TREE_WALK_NEXT;
}

TEST_F(ObjTest, TreeKeepsOrderAndDeletesWholeBranches)
{
    lv_obj_t* a = lv_obj_create(scr);
    lv_obj_t* b = lv_button_create(scr);
    lv_obj_t* inner = lv_label_create(b);
    lv_label_create(a);
    EXPECT_EQ(lv_obj_get_child_count(scr), 2u);
    EXPECT_EQ(lv_obj_get_child(scr, 0), a);
    EXPECT_EQ(lv_obj_get_child(scr, -1), b);
    EXPECT_EQ(lv_obj_get_child(scr, 2), nullptr);
    EXPECT_EQ(lv_obj_get_parent(inner), b);
    EXPECT_EQ(lv_obj_get_screen(inner), scr);
    EXPECT_EQ(lv_obj_get_index(b), 1);
    EXPECT_TRUE(lv_obj_check_type(b, &lv_button_class));
    EXPECT_FALSE(lv_obj_check_type(b, &lv_obj_class));
    EXPECT_TRUE(lv_obj_has_class(b, &lv_obj_class));
    EXPECT_STREQ(lv_test_obj_get_class_name(inner), "lv_label");

    int labels = 0;
    lv_obj_tree_walk(scr, count_labels, &labels);
    EXPECT_EQ(labels, 2);

    lv_obj_delete(b);
    EXPECT_EQ(lv_obj_get_child_count(scr), 1u);
    EXPECT_FALSE(lv_obj_is_valid(inner));
    lv_obj_clean(scr);
    EXPECT_EQ(lv_obj_get_child_count(scr), 0u);
    EXPECT_FALSE(lv_obj_is_valid(a));
    EXPECT_TRUE(lv_obj_is_valid(scr));
}

TEST_F(ObjTest, LayoutPlacesChildrenInsideBorderAndPaddingWithAlignment)
{
    lv_obj_t* parent = box(scr, 10, 20, 200, 100, 0x202020);
    lv_obj_set_style_border_width(parent, 7, 0);
    lv_obj_set_style_pad_left(parent, 3, 0);
    lv_obj_set_style_pad_top(parent, 4, 0);
    /* content area: x 20..202, y 31..112 (border 7 both sides, padding 3 / 4 on the top-left) */
    struct Case {
        lv_align_t align;
        int32_t x, y, w, h;
        lv_area_t expected;
    };
    const Case cases[] = {
        {LV_ALIGN_DEFAULT, 5, 6, 10, 10, {25, 37, 34, 46}},
        {LV_ALIGN_TOP_RIGHT, -2, 0, 10, 10, {191, 31, 200, 40}},
        {LV_ALIGN_CENTER, 0, 0, 20, 10, {101, 67, 120, 76}},
        {LV_ALIGN_BOTTOM_MID, 0, -1, 20, 10, {101, 102, 120, 111}},
        {LV_ALIGN_DEFAULT, 0, 0, LV_PCT(50), LV_PCT(100), {20, 31, 110, 112}},
    };
    for (const Case& c : cases) {
        lv_obj_t* child = lv_obj_create(parent);
        lv_obj_align(child, c.align, c.x, c.y);
        lv_obj_set_size(child, c.w, c.h);
        lv_area_t a;
        lv_obj_get_coords(child, &a);
        EXPECT_EQ(a.x1, c.expected.x1) << "align " << c.align;
        EXPECT_EQ(a.y1, c.expected.y1) << "align " << c.align;
        EXPECT_EQ(a.x2, c.expected.x2) << "align " << c.align;
        EXPECT_EQ(a.y2, c.expected.y2) << "align " << c.align;
    }
}

TEST_F(ObjTest, ContentSizeFollowsChildrenAndText)
{
    lv_obj_t* holder = lv_obj_create(scr);
    lv_obj_remove_style_all(holder);
    lv_obj_set_size(holder, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_obj_set_style_pad_all(holder, 5, 0);
    lv_obj_t* child = lv_obj_create(holder);
    lv_obj_set_pos(child, 10, 20);
    lv_obj_set_size(child, 30, 40);
    EXPECT_EQ(lv_obj_get_width(holder), 5 + 10 + 30 + 5);
    EXPECT_EQ(lv_obj_get_height(holder), 5 + 20 + 40 + 5);

    lv_obj_t* text = lv_label_create(scr);
    lv_label_set_text(text, "A");
    int32_t one = lv_obj_get_width(text);
    lv_label_set_text(text, "AAAA");
    EXPECT_GT(lv_obj_get_width(text), 3 * one);
    EXPECT_EQ(lv_obj_get_height(text), lv_font_get_line_height(&lv_font_montserrat_14));
}

TEST_F(ObjTest, StylePrecedenceStateAndInheritance)
{
    static lv_style_t added, checked;
    lv_style_init(&added);
    lv_style_set_bg_color(&added, lv_color_hex(0x112233));
    lv_style_set_text_color(&added, lv_color_hex(0x445566));
    lv_style_init(&checked);
    lv_style_set_bg_color(&checked, lv_color_hex(0x00FF00));

    lv_obj_t* b = lv_button_create(scr);
    /* theme look first */
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_bg_color(b, LV_PART_MAIN)),
              lv_color_to_int(lv_palette_main(LV_PALETTE_BLUE)));
    lv_obj_add_style(b, &added, 0);
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_bg_color(b, LV_PART_MAIN)), 0x112233u);
    lv_obj_set_style_bg_color(b, lv_color_hex(0xABCDEF), 0);
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_bg_color(b, LV_PART_MAIN)), 0xABCDEFu);
    /* a style for a state wins over the default state's local value while the state is on */
    lv_obj_add_style(b, &checked, LV_STATE_CHECKED);
    lv_obj_add_state(b, LV_STATE_CHECKED);
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_bg_color(b, LV_PART_MAIN)), 0x00FF00u);
    lv_obj_remove_state(b, LV_STATE_CHECKED);
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_bg_color(b, LV_PART_MAIN)), 0xABCDEFu);

    /* text colour is inherited by children, background colour is not */
    lv_obj_t* child = lv_label_create(b);
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_text_color(child, LV_PART_MAIN)), 0x445566u);
    EXPECT_EQ(lv_obj_get_style_bg_opa(child, LV_PART_MAIN), LV_OPA_TRANSP);
    /* other parts fall back to the object's own main part first */
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_text_color(b, LV_PART_ITEMS)), 0x445566u);
    lv_obj_remove_style(b, &added, 0);
    EXPECT_NE(lv_color_to_int(lv_obj_get_style_text_color(child, LV_PART_MAIN)), 0x445566u);
}

TEST_F(ObjTest, FrameCornersAndRoundedCorners)
{
    lv_obj_t* frame = box(scr, 0, 0, 320, 170, 0x000000);
    lv_obj_set_style_border_color(frame, lv_color_hex(0x0000FF), 0);
    lv_obj_set_style_border_width(frame, 7, 0);
    box(scr, 100, 50, 40, 40, 0xFF0000);
    lv_obj_t* rounded = box(scr, 200, 50, 40, 40, 0xFF0000);
    lv_obj_set_style_radius(rounded, 10, 0);
    render();
    const int32_t corners[][2] = {{0, 0}, {319, 0}, {0, 169}, {319, 169}, {6, 6}, {313, 163}};
    for (const auto& c : corners) EXPECT_EQ(pixel(c[0], c[1]), rgb565(0x0000FF)) << c[0] << "," << c[1];
    EXPECT_EQ(pixel(7, 7), rgb565(0x000000));
    EXPECT_EQ(pixel(312, 162), rgb565(0x000000));
    /* square corner fully painted, rounded corner left out, its edge partly covered */
    EXPECT_EQ(pixel(100, 50), rgb565(0xFF0000));
    EXPECT_EQ(pixel(200, 50), rgb565(0x000000));
    EXPECT_EQ(pixel(210, 50), rgb565(0xFF0000));
    uint16_t edge = pixel(202, 53);
    EXPECT_NE(edge, rgb565(0xFF0000));
    EXPECT_NE(edge, rgb565(0x000000));
}

TEST_F(ObjTest, BorderOnChosenSidesOnly)
{
    struct Case {
        lv_border_side_t side;
        bool top, bottom, left, right;
    };
    const Case cases[] = {
        {LV_BORDER_SIDE_TOP, true, false, false, false},
        {LV_BORDER_SIDE_BOTTOM, false, true, false, false},
        {static_cast<lv_border_side_t>(LV_BORDER_SIDE_BOTTOM | LV_BORDER_SIDE_LEFT), false, true, true, false},
        {LV_BORDER_SIDE_FULL, true, true, true, true},
        {LV_BORDER_SIDE_NONE, false, false, false, false},
    };
    for (const Case& c : cases) {
        lv_obj_clean(scr);
        lv_obj_t* o = box(scr, 50, 50, 60, 30, 0x000000);
        lv_obj_set_style_bg_opa(o, LV_OPA_TRANSP, 0);
        lv_obj_set_style_border_width(o, 2, 0);
        lv_obj_set_style_border_color(o, lv_color_white(), 0);
        lv_obj_set_style_border_side(o, c.side, 0);
        render();
        uint16_t white = rgb565(0xFFFFFF);
        EXPECT_EQ(pixel(80, 51) == white, c.top) << "side " << c.side;
        EXPECT_EQ(pixel(80, 78) == white, c.bottom) << "side " << c.side;
        EXPECT_EQ(pixel(51, 65) == white, c.left) << "side " << c.side;
        EXPECT_EQ(pixel(108, 65) == white, c.right) << "side " << c.side;
        EXPECT_EQ(pixel(80, 65), rgb565(0x000000));
    }
}

TEST_F(ObjTest, ChildrenAreClippedToTheirParentUnlessOverflowVisible)
{
    lv_obj_t* parent = box(scr, 50, 50, 40, 40, 0x000000);
    lv_obj_t* child = box(parent, 20, 20, 60, 60, 0x00FF00);
    render();
    EXPECT_EQ(pixel(89, 89), rgb565(0x00FF00));
    EXPECT_EQ(pixel(90, 89), rgb565(0x000000));
    EXPECT_EQ(pixel(89, 90), rgb565(0x000000));
    EXPECT_EQ(ink(0, 0, 319, 169).count, 20 * 20);

    lv_obj_add_flag(parent, LV_OBJ_FLAG_OVERFLOW_VISIBLE);
    render();
    EXPECT_EQ(pixel(129, 129), rgb565(0x00FF00));
    lv_obj_add_flag(child, LV_OBJ_FLAG_HIDDEN);
    render();
    EXPECT_TRUE(ink(0, 0, 319, 169).empty());
}

TEST_F(ObjTest, ScrollShiftsChildrenWithinTheirExtent)
{
    lv_obj_t* row = box(scr, 10, 10, 100, 50, 0x000000);
    lv_obj_remove_flag(row, LV_OBJ_FLAG_SCROLLABLE);
    for (int i = 0; i < 5; i++) box(row, 10 + 60 * i, 10, 40, 30, 0x0000FF);
    /* children reach x 290 (relative), the view is 100 wide: at most 190 of scroll */
    struct Case {
        int32_t to, expected_scroll;
    };
    const Case cases[] = {{55, 55}, {0, 0}, {500, 190}, {-20, 0}, {120, 120}};
    for (const Case& c : cases) {
        lv_obj_scroll_to_x(row, c.to, LV_ANIM_OFF);
        EXPECT_EQ(lv_obj_get_scroll_x(row), c.expected_scroll) << "to " << c.to;
        lv_area_t first;
        lv_obj_get_coords(lv_obj_get_child(row, 0), &first);
        EXPECT_EQ(first.x1, 10 + 10 - c.expected_scroll);
    }
    /* scrolled by 120: the third box (x 130..169 in content) shows at 20..59 */
    render();
    EXPECT_EQ(pixel(20, 30), rgb565(0x0000FF));
    EXPECT_EQ(pixel(19, 30), rgb565(0x000000));
    EXPECT_EQ(pixel(59, 30), rgb565(0x0000FF));
    EXPECT_EQ(pixel(79, 30), rgb565(0x000000));
    EXPECT_EQ(pixel(109, 30), rgb565(0x0000FF)); /* the fourth box, cut at the row's edge */
    EXPECT_EQ(pixel(110, 30), rgb565(0x000000));
}

TEST_F(ObjTest, VerticalGradientSwitchesAtTheStops)
{
    lv_obj_t* o = box(scr, 0, 0, 10, 101, 0xFF0000);
    lv_obj_set_style_bg_grad_color(o, lv_color_hex(0x0000FF), 0);
    lv_obj_set_style_bg_grad_dir(o, LV_GRAD_DIR_VER, 0);
    lv_obj_set_style_bg_main_stop(o, 100, 0);
    lv_obj_set_style_bg_grad_stop(o, 100, 0);
    render();
    EXPECT_EQ(pixel(5, 0), rgb565(0xFF0000));
    EXPECT_EQ(pixel(5, 35), rgb565(0xFF0000));
    EXPECT_EQ(pixel(5, 45), rgb565(0x0000FF));
    EXPECT_EQ(pixel(5, 100), rgb565(0x0000FF));
}

lv_obj_tree_walk_res_t stop_at_label(lv_obj_t* obj, void* user_data)
{
    auto* seen = static_cast<std::vector<lv_obj_t*>*>(user_data);
    seen->push_back(obj);
    if (lv_obj_check_type(obj, &lv_button_class)) return LV_OBJ_TREE_WALK_SKIP_CHILDREN;
    return lv_obj_check_type(obj, &lv_label_class) ? LV_OBJ_TREE_WALK_END : LV_OBJ_TREE_WALK_NEXT;
}

TEST_F(ObjTest, TreeWalkSkipsAndStops)
{
    lv_obj_t* button = lv_button_create(scr);
    lv_label_create(button);
    lv_obj_t* label = lv_label_create(scr);
    lv_obj_create(scr);
    std::vector<lv_obj_t*> seen;
    lv_obj_tree_walk(scr, stop_at_label, &seen);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], scr);
    EXPECT_EQ(seen[1], button);
    EXPECT_EQ(seen[2], label);
}

TEST_F(ObjTest, PositionsFollowLaterChangesAndHiddenChildrenTakeNoSpace)
{
    lv_obj_t* parent = box(scr, 0, 0, LV_SIZE_CONTENT, LV_SIZE_CONTENT, 0x000000);
    lv_obj_t* a = box(parent, 0, 0, 20, 20, 0x000000);
    lv_obj_t* b = box(parent, 50, 60, 30, 30, 0x000000);
    EXPECT_EQ(lv_obj_get_width(parent), 80);
    lv_obj_add_flag(b, LV_OBJ_FLAG_HIDDEN);
    EXPECT_EQ(lv_obj_get_width(parent), 20);
    lv_obj_remove_flag(b, LV_OBJ_FLAG_HIDDEN);
    lv_obj_set_pos(parent, 10, 20);
    lv_obj_set_x(a, 5);
    EXPECT_EQ(lv_obj_get_x(a), 5);
    EXPECT_EQ(lv_obj_get_y(b), 60);
    lv_area_t area;
    lv_obj_get_coords(a, &area);
    EXPECT_EQ(area.x1, 15);
    EXPECT_EQ(area.y1, 20);
    EXPECT_EQ(lv_obj_get_x2(b), 79);
    EXPECT_EQ(lv_obj_get_content_width(parent), 80);
}

TEST_F(ObjTest, VerticalScrollIsBoundedToo)
{
    lv_obj_t* column = box(scr, 0, 0, 100, 50, 0x000000);
    box(column, 0, 0, 50, 40, 0x0000FF);
    box(column, 0, 100, 50, 40, 0x00FF00);
    lv_obj_scroll_to_y(column, 1000, LV_ANIM_OFF);
    EXPECT_EQ(lv_obj_get_scroll_y(column), 90);
    render();
    EXPECT_EQ(pixel(10, 49), rgb565(0x00FF00));
    EXPECT_EQ(pixel(10, 5), rgb565(0x000000));
    lv_obj_scroll_by(column, 0, 30, LV_ANIM_OFF);
    EXPECT_EQ(lv_obj_get_scroll_y(column), 60);
    lv_obj_scroll_to(column, 0, 0, LV_ANIM_OFF);
    EXPECT_EQ(lv_obj_get_scroll_y(column), 0);
}

TEST_F(ObjTest, StaticStyleChangesReachTheNextFrame)
{
    static lv_style_t style;
    lv_style_init(&style);
    lv_style_set_bg_color(&style, lv_color_hex(0xFF0000));
    lv_style_set_bg_opa(&style, LV_OPA_COVER);
    lv_obj_t* o = lv_obj_create(scr);
    lv_obj_remove_style_all(o);
    lv_obj_set_size(o, 10, 10);
    lv_obj_add_style(o, &style, 0);
    render();
    EXPECT_EQ(pixel(5, 5), rgb565(0xFF0000));
    lv_style_set_bg_color(&style, lv_color_hex(0x0000FF));
    render();
    EXPECT_EQ(pixel(5, 5), rgb565(0x0000FF));
    EXPECT_TRUE(lv_style_remove_prop(&style, LV_STYLE_BG_OPA));
    EXPECT_FALSE(lv_style_remove_prop(&style, LV_STYLE_BG_OPA));
    render();
    EXPECT_EQ(pixel(5, 5), rgb565(0x000000));
    lv_style_reset(&style);
    EXPECT_TRUE(lv_style_is_empty(&style));

    /* a style that was never initialised takes no values */
    lv_style_t raw = {nullptr, 0};
    lv_style_set_bg_color(&raw, lv_color_white());
    EXPECT_TRUE(lv_style_is_empty(&raw));
}

} // namespace
