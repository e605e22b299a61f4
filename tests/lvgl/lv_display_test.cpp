// Displays: refresh only on change, resolution changes, the host back end's PNG and the theme.
#include "LvglTest.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/TempRoot.h"

namespace {

class DisplayTest : public LvglTest {};

#if KESTRUN_HOST
bool png_size(const std::string& path, uint32_t* w, uint32_t* h)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    bool ok = false;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        *w = png_get_image_width(png, info);
        *h = png_get_image_height(png, info);
        ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return ok;
}

TEST_F(DisplayTest, HostBackEndWritesEachNewFrameAsPng)
{
    std::string path = test_root() + "/screen.png";
    setenv("KESTRUN_SCREEN_PNG", path.c_str(), 1);
    lv_obj_t* o = lv_obj_create(scr);
    lv_obj_set_size(o, 50, 50);
    render();
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(png_size(path, &w, &h));
    EXPECT_EQ(w, 320u);
    EXPECT_EQ(h, 170u);

    /* nothing changed: no new frame, the file is not written again */
    std::remove(path.c_str());
    render();
    EXPECT_FALSE(png_size(path, &w, &h));
    lv_obj_set_x(o, 10);
    render();
    EXPECT_TRUE(png_size(path, &w, &h));
    unsetenv("KESTRUN_SCREEN_PNG");
}
#endif

TEST_F(DisplayTest, ResolutionAndOffsetFollowTheLastSetting)
{
    lv_display_t* d = lv_display_get_default();
    EXPECT_EQ(d, disp);
    lv_display_set_offset(disp, 0, 35);
    lv_display_set_resolution(disp, 320, 210);
    lv_display_set_resolution(disp, 320, 170);
    EXPECT_EQ(lv_display_get_horizontal_resolution(disp), 320);
    EXPECT_EQ(lv_display_get_vertical_resolution(disp), 170);
    EXPECT_EQ(lv_display_get_offset_y(disp), 35);
    lv_area_t a;
    lv_obj_get_coords(scr, &a);
    EXPECT_EQ(a.x2, 319);
    EXPECT_EQ(a.y2, 169);
    render();
    EXPECT_EQ(lv_test_display_get_pixel(disp, 319, 169), rgb565(0x000000));
    EXPECT_EQ(lv_test_display_get_pixel(disp, 320, 0), 0);
}

TEST_F(DisplayTest, DarkThemeLookOfNewObjects)
{
    lv_obj_clean(scr);
    lv_obj_set_style_bg_color(scr, lv_color_hex(0x15171A), 0);
    lv_obj_t* card = lv_obj_create(scr);
    lv_obj_t* label = lv_label_create(scr);
    EXPECT_EQ(lv_obj_get_style_text_font(label, LV_PART_MAIN), &lv_font_montserrat_14);
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_text_color(label, LV_PART_MAIN)), 0xFAFAFAu);
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_bg_color(card, LV_PART_MAIN)), 0x282B30u);
    EXPECT_GT(lv_obj_get_style_radius(card, LV_PART_MAIN), 0);
    lv_obj_t* bar = lv_bar_create(scr);
    EXPECT_EQ(lv_color_to_int(lv_obj_get_style_bg_color(bar, LV_PART_INDICATOR)), 0x2196F3u);
    EXPECT_EQ(lv_obj_get_style_radius(bar, LV_PART_MAIN), LV_RADIUS_CIRCLE);

    /* a light theme applied to an emptied screen gives it the light background */
    lv_obj_clean(scr);
    lv_display_set_theme(disp, lv_theme_default_init(disp, lv_palette_main(LV_PALETTE_BLUE),
                                                     lv_palette_main(LV_PALETTE_RED), false, &lv_font_montserrat_14));
    render();
    EXPECT_EQ(lv_test_display_get_pixel(disp, 10, 10), rgb565(0xF5F5F5));
}

TEST_F(DisplayTest, ObjectTreeDump)
{
    lv_obj_t* l = label(scr, 7, 6, 100, 20, "Tuner");
    LV_UNUSED(l);
    char* buf = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buf, &size);
    lv_test_obj_dump(scr, out);
    std::fclose(out);
    std::string text(buf, size);
    std::free(buf);
    EXPECT_NE(text.find("lv_label (7,6)-(106,25) \"Tuner\""), std::string::npos) << text;
}

} // namespace

namespace {

TEST_F(DisplayTest, SecondDisplayScreensAndDeletion)
{
    lv_display_t* other = lv_display_create(100, 50);
    EXPECT_EQ(lv_display_get_default(), disp) << "the first display stays the default";
    lv_obj_t* other_scr = lv_display_get_screen_active(other);
    ASSERT_NE(other_scr, nullptr);
    EXPECT_EQ(lv_obj_get_display(other_scr), other);
    lv_obj_t* child = lv_obj_create(other_scr);
    EXPECT_EQ(lv_obj_get_display(child), other);
    lv_refr_now(other);
    EXPECT_NE(lv_test_display_get_frame(other), nullptr);
    EXPECT_EQ(lv_test_display_get_frame(disp), nullptr) << "only the asked display was drawn";

    lv_obj_t* fresh = lv_obj_create(nullptr);
    lv_screen_load(fresh);
    EXPECT_EQ(lv_screen_active(), fresh);
    lv_obj_delete(fresh);
    EXPECT_EQ(lv_screen_active(), scr);
    lv_display_delete(other);
    EXPECT_EQ(lv_display_get_next(disp), nullptr);
}

} // namespace
