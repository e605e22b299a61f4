#include "UiTest.h"

#include <cstdio>
#include <cstdlib>

#include "support/TempRoot.h"
#include "ui/KestrunSplash.h"
#include "ui/ScreenFrame.h"

namespace {

class LCDTest : public UiTest {};

int customCalls = 0;
void customSplash()
{
    customCalls++;
    lv_obj_t* l = lv_label_create(lv_screen_active());
    lv_label_set_text(l, "custom");
}

TEST_F(LCDTest, DisplayIsThePanelsVisibleArea)
{
    EXPECT_TRUE(LCD::isInitialized());
    EXPECT_EQ(lv_display_get_horizontal_resolution(disp), 320);
    EXPECT_EQ(lv_display_get_vertical_resolution(disp), 170);
    EXPECT_EQ(lv_display_get_offset_x(disp), 0);
    EXPECT_EQ(lv_display_get_offset_y(disp), 35);
}

TEST_F(LCDTest, DefaultSplashThenCustomSplashRenderedAtOnce)
{
    LCD::splash();
    ASSERT_NE(lv_test_display_get_frame(disp), nullptr) << "rendered without a flush";
    auto w = widgets();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_TRUE(lv_obj_check_type(w[0], &lv_obj_class));
    EXPECT_EQ(lv_obj_get_style_border_width(w[0], LV_PART_MAIN), 7);
    EXPECT_STREQ(lv_label_get_text(w[1]), "QUELM");
    EXPECT_EQ(lv_obj_get_style_text_font(w[1], LV_PART_MAIN), &lv_font_montserrat_48);
    lv_area_t name = area(w[1]);
    EXPECT_NEAR((name.x1 + name.x2) / 2, 160, 1);
    EXPECT_NEAR((name.y1 + name.y2) / 2, 85, 1);
    EXPECT_STREQ(lv_label_get_text(w[2]), "platform");
    lv_area_t platform = area(w[2]);
    EXPECT_NEAR((platform.x1 + platform.x2) / 2, 160 + 48, 1);
    EXPECT_NEAR((platform.y1 + platform.y2) / 2, 85 + 30, 1);
    EXPECT_EQ(pixel(0, 0), rgb565(0x000000));
    EXPECT_EQ(rgb(lv_obj_get_style_text_color(w[2], LV_PART_MAIN)), 0xFFFFFFu);

    LCD::clear();
    EXPECT_TRUE(widgets().empty());
    LCD::set_custom_splash(customSplash);
    LCD::splash();
    EXPECT_EQ(customCalls, 1);
    ASSERT_EQ(widgets().size(), 1u);
    EXPECT_STREQ(lv_label_get_text(widgets()[0]), "custom");
}

TEST_F(LCDTest, UnitSplashShowsNameAndModel)
{
    LCD::set_custom_splash(kestrun_splash);
    LCD::splash();
    auto w = widgets();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_STREQ(lv_label_get_text(w[0]), "Vornetide");
    EXPECT_EQ(lv_obj_get_style_text_font(w[0], LV_PART_MAIN), &lv_font_montserrat_28);
    lv_area_t a = area(w[0]);
    EXPECT_EQ(a.x1, 0);
    EXPECT_EQ(a.y1, 54);
    EXPECT_EQ(lv_area_get_width(&a), 320);
    EXPECT_STREQ(lv_label_get_text(w[1]), "PRO");
    EXPECT_EQ(lv_obj_get_style_text_font(w[1], LV_PART_MAIN), &lv_font_montserrat_40);
    a = area(w[1]);
    EXPECT_EQ(a.x1, 126);
    EXPECT_EQ(a.y1, 82);
    EXPECT_EQ(lv_area_get_width(&a), 179);
    EXPECT_EQ(lv_label_get_long_mode(w[1]), LV_LABEL_LONG_DOT);
    /* both texts are centred in their labels, on the dark theme's screen */
    lv_area_t pro = ink(126, 82, 304, 129, 0x15171A);
    EXPECT_NEAR((pro.x1 + pro.x2) / 2, 126 + 89, 2);
    EXPECT_EQ(pixel(2, 2), rgb565(0x15171A));
    check_screen("ui_splash");
}

TEST_F(LCDTest, FlushWritesTheFrameAndClearEmptiesTheScreen)
{
    std::string path = test_root() + "/screen.png";
    setenv("KESTRUN_SCREEN_PNG", path.c_str(), 1);
    create_screen_frame();
    create_screen_title("Tuner");
    LCD::flush();
    EXPECT_FALSE(read_file(path).empty());
    LCD::clear();
    EXPECT_TRUE(widgets().empty());
    unsetenv("KESTRUN_SCREEN_PNG");
}

} // namespace
