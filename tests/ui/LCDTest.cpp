#include "UiTest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/model/FramebufferModel.h"

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

#if KESTRUN_HOST
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
#else
// The unit's framebuffer back end against a model framebuffer, in the pixel formats a framebuffer
// driver may report: the panel's 320 x 170 area lands at line 35 of the visible page (panned to the
// second one here), each line at the device's line length, each channel in its bit field.
TEST_F(LCDTest, FlushWritesTheFrameIntoTheFramebufferAndClearEmptiesTheScreen)
{
    struct Format {
        const char* name;
        uint32_t bits;
        fb_bitfield red, green, blue, transp;
        uint32_t redPixel, bluePixel;
    } formats[] = {
        {"RGB565", 16, {11, 5, 0}, {5, 6, 0}, {0, 5, 0}, {0, 0, 0}, 0xF800, 0x001F},
        {"BGR565", 16, {0, 5, 0}, {5, 6, 0}, {11, 5, 0}, {0, 0, 0}, 0x001F, 0xF800},
        {"ARGB8888", 32, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}, {24, 8, 0}, 0xFFFF0000, 0xFF0000FF},
        {"XBGR8888", 32, {0, 8, 0}, {8, 8, 0}, {16, 8, 0}, {0, 0, 0}, 0x000000FF, 0x00FF0000},
    };
    for (const Format& f : formats) {
        SCOPED_TRACE(f.name);
        lv_deinit();
        fb_var_screeninfo var{};
        var.xres = var.xres_virtual = 320;
        var.yres = 240;
        var.yres_virtual = 480;
        var.yoffset = 240;
        var.bits_per_pixel = f.bits;
        var.red = f.red;
        var.green = f.green;
        var.blue = f.blue;
        var.transp = f.transp;
        const uint32_t bytes = f.bits / 8, line = 320 * bytes + 64;
        FramebufferModel::set(var, line);
        LCD::initialize();
        disp = lv_display_get_default();
        EXPECT_EQ(lv_display_get_vertical_resolution(disp), 170);

        lv_obj_t* screen = lv_screen_active();
        lv_obj_set_style_bg_color(screen, lv_color_hex(0xFF0000), 0);
        lv_obj_set_style_bg_opa(screen, LV_OPA_COVER, 0);
        lv_obj_t* box = lv_obj_create(screen);
        lv_obj_remove_style_all(box);
        lv_obj_set_pos(box, 300, 160);
        lv_obj_set_size(box, 20, 10);
        lv_obj_set_style_bg_color(box, lv_color_hex(0x0000FF), 0);
        lv_obj_set_style_bg_opa(box, LV_OPA_COVER, 0);
        LCD::flush();

        std::vector<uint8_t> memory = FramebufferModel::memory();
        ASSERT_EQ(memory.size(), size_t(line) * 480);
        auto at = [&](uint32_t x, uint32_t y) {
            uint32_t v = 0;
            std::memcpy(&v, memory.data() + size_t(y) * line + x * bytes, bytes);
            return v;
        };
        const uint32_t top = 240 + 35;
        EXPECT_EQ(at(0, top), f.redPixel);
        EXPECT_EQ(at(299, top + 169), f.redPixel);
        EXPECT_EQ(at(300, top + 160), f.bluePixel);
        EXPECT_EQ(at(319, top + 169), f.bluePixel);
        // Nothing above or below the panel's area, nothing on the other page, nothing in the padding.
        EXPECT_EQ(at(0, top - 1), 0u);
        EXPECT_EQ(at(319, top + 170), 0u);
        EXPECT_EQ(at(0, 35), 0u);
        EXPECT_EQ(memory[size_t(top) * line + 320 * bytes], 0u);
    }
    LCD::clear();
    EXPECT_TRUE(widgets().empty());
}
#endif

} // namespace
