// Bars and sliders: the indicator's extent for values, ranges and orientation, and the drawing
// order of a border drawn above the indicator.
#include "LvglTest.h"

namespace {

class BarTest : public LvglTest {
protected:
    /* The look of the unit's parameter boxes: opaque indicator, white 1-px border above it. */
    lv_obj_t* param_bar(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color)
    {
        lv_obj_t* bar = lv_bar_create(scr);
        lv_obj_set_pos(bar, x, y);
        lv_obj_set_size(bar, w, h);
        lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_INDICATOR);
        lv_obj_set_style_bg_color(bar, lv_color_hex(color), LV_PART_INDICATOR);
        lv_obj_set_style_radius(bar, 0, LV_PART_INDICATOR);
        lv_obj_set_style_border_color(bar, lv_color_white(), 0);
        lv_obj_set_style_border_width(bar, 1, 0);
        lv_obj_set_style_bg_opa(bar, LV_OPA_TRANSP, 0);
        lv_obj_set_style_radius(bar, 5, 0);
        lv_obj_set_style_border_post(bar, true, 0);
        return bar;
    }

    /* Columns on the bar's middle row painted in the indicator colour. */
    int32_t filled_columns(int32_t x1, int32_t x2, int32_t y, uint32_t color)
    {
        int32_t n = 0;
        for (int32_t x = x1; x <= x2; x++) n += pixel(x, y) == rgb565(color);
        return n;
    }
};

TEST_F(BarTest, FilledWidthIsProportionalToTheValue)
{
    struct Case {
        int32_t value, min, max, expected_width;
    };
    const Case cases[] = {
        {0, 0, 100, 0},    {100, 0, 100, 72}, {50, 0, 100, 36}, {25, 0, 100, 18},
        {150, 0, 100, 72}, {-5, 0, 100, 0},   {5, 0, 10, 36},   {-50, -100, 100, 18},
    };
    for (const Case& c : cases) {
        lv_obj_clean(scr);
        lv_obj_t* bar = param_bar(7, 146, 72, 17, 0xFF6600);
        lv_bar_set_range(bar, c.min, c.max);
        lv_bar_set_value(bar, c.value, LV_ANIM_OFF);
        lv_area_t indic;
        lv_bar_get_indicator_area(bar, &indic);
        int32_t w = indic.x2 >= indic.x1 ? lv_area_get_width(&indic) : 0;
        EXPECT_EQ(w, c.expected_width) << "value " << c.value;
        render();
        /* the border covers the first and last columns */
        int32_t inside = std::max<int32_t>(0, std::min<int32_t>(c.expected_width, 71) - (c.expected_width > 0 ? 1 : 0));
        EXPECT_NEAR(filled_columns(7, 78, 154, 0xFF6600), inside, 1) << "value " << c.value;
        EXPECT_EQ(pixel(7, 154), rgb565(0xFFFFFF)) << "border above the indicator";
    }
}

TEST_F(BarTest, RangeModeAndVerticalBarsFillFromTheBottom)
{
    lv_obj_t* bar = param_bar(305, 39, 8, 125, 0xFFFFFF);
    lv_bar_set_mode(bar, LV_BAR_MODE_RANGE);
    lv_bar_set_range(bar, 0, 10);
    lv_bar_set_value(bar, 10, LV_ANIM_OFF);
    lv_bar_set_start_value(bar, 5, LV_ANIM_OFF);
    EXPECT_EQ(lv_bar_get_start_value(bar), 5);
    lv_area_t indic;
    lv_bar_get_indicator_area(bar, &indic);
    /* the upper half: the maximum is at the top */
    EXPECT_EQ(indic.y1, 39);
    EXPECT_NEAR(indic.y2, 39 + 62, 1);
    EXPECT_EQ(indic.x1, 305);
    EXPECT_EQ(indic.x2, 312);

    lv_bar_set_value(bar, 3, LV_ANIM_OFF);
    EXPECT_EQ(lv_bar_get_value(bar), 5) << "the value never falls below the start";
    lv_bar_set_start_value(bar, 8, LV_ANIM_OFF);
    EXPECT_EQ(lv_bar_get_start_value(bar), 5) << "the start never passes the value";
    lv_bar_set_start_value(bar, 0, LV_ANIM_OFF);
    lv_bar_set_value(bar, 3, LV_ANIM_OFF);
    lv_bar_get_indicator_area(bar, &indic);
    EXPECT_EQ(indic.y2, 163);
    EXPECT_NEAR(indic.y1, 163 - 37, 1);
    render();
    EXPECT_EQ(pixel(309, 150), rgb565(0xFFFFFF));
    EXPECT_EQ(pixel(309, 100), rgb565(0x000000));

    /* outside range mode the start value is the minimum */
    lv_obj_t* normal = lv_bar_create(scr);
    lv_bar_set_start_value(normal, 40, LV_ANIM_OFF);
    EXPECT_EQ(lv_bar_get_start_value(normal), 0);
}

TEST_F(BarTest, SliderKnobSitsOnTheValueAndTakesItsColour)
{
    lv_obj_t* slider = lv_slider_create(scr);
    lv_obj_set_pos(slider, 100, 80);
    lv_obj_set_size(slider, 90, 10);
    lv_obj_set_style_bg_color(slider, lv_color_hex(0x00FF00), LV_PART_KNOB);
    lv_obj_set_style_bg_opa(slider, LV_OPA_TRANSP, LV_PART_INDICATOR);
    for (int32_t value : {0, 50, 100}) {
        lv_slider_set_value(slider, value, LV_ANIM_OFF);
        EXPECT_EQ(lv_slider_get_value(slider), value);
        lv_area_t knob;
        lv_slider_get_knob_area(slider, &knob);
        int32_t centre = (knob.x1 + knob.x2) / 2;
        EXPECT_NEAR(centre, 100 + 90 * value / 100, 1) << "value " << value;
        render();
        EXPECT_EQ(pixel(centre, 85), rgb565(0x00FF00)) << "value " << value;
    }
    check_screen("slider");
}

TEST_F(BarTest, TiledBackgroundImageWithRecolour)
{
    /* a 2 x 1 image of a red and a blue pixel, tiled across the slider's track */
    static const uint8_t pixels[] = {0x00, 0xF8, 0x1F, 0x00};
    static lv_image_dsc_t image = {};
    image.header.magic = LV_IMAGE_HEADER_MAGIC;
    image.header.cf = LV_COLOR_FORMAT_RGB565;
    image.header.w = 2;
    image.header.h = 1;
    image.header.stride = 4;
    image.data = pixels;
    image.data_size = sizeof(pixels);

    lv_obj_t* slider = lv_slider_create(scr);
    lv_obj_set_pos(slider, 10, 10);
    lv_obj_set_size(slider, 90, 10);
    lv_obj_set_style_radius(slider, 0, 0);
    lv_obj_set_style_bg_image_src(slider, &image, 0);
    lv_obj_set_style_bg_image_tiled(slider, true, 0);
    lv_obj_set_style_bg_opa(slider, LV_OPA_TRANSP, LV_PART_INDICATOR);
    lv_obj_set_style_bg_opa(slider, LV_OPA_TRANSP, LV_PART_KNOB);
    lv_slider_set_value(slider, 0, LV_ANIM_OFF);
    render();
    EXPECT_EQ(pixel(50, 15), rgb565(0xFF0000));
    EXPECT_EQ(pixel(51, 15), rgb565(0x0000FF));
    EXPECT_EQ(pixel(98, 19), rgb565(0xFF0000));

    lv_obj_set_style_bg_image_recolor(slider, lv_color_white(), 0);
    lv_obj_set_style_bg_image_recolor_opa(slider, LV_OPA_50, 0);
    render();
    EXPECT_EQ(pixel(50, 15), rgb565(0xFF7F7F));
}

} // namespace
