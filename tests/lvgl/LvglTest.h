#pragma once
// Fixture for the widget layer's tests: a 320 x 170 display (the unit's panel) on the host back
// end with the dark default theme, a black screen, and probes of the RGB565 frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "lvgl.h"
#include "src/display/lv_display_private.h"
#include "src/others/test/lv_test.h"
#include "support/ScreenImage.h"

inline uint16_t rgb565(uint32_t rgb)
{
    return lv_color_to_u16(lv_color_hex(rgb));
}

struct InkBox {
    int32_t x1 = INT32_MAX, y1 = INT32_MAX, x2 = INT32_MIN, y2 = INT32_MIN;
    int32_t count = 0;
    bool empty() const { return count == 0; }
};

class LvglTest : public testing::Test {
protected:
    void SetUp() override
    {
        lv_init();
        disp = lv_linux_fbdev_create();
        lv_display_set_resolution(disp, 320, 170);
        lv_theme_t* th = lv_theme_default_init(disp, lv_palette_main(LV_PALETTE_BLUE), lv_palette_main(LV_PALETTE_RED),
                                               true, &lv_font_montserrat_14);
        lv_display_set_theme(disp, th);
        scr = lv_screen_active();
        lv_obj_set_style_bg_color(scr, lv_color_black(), 0);
    }

    void TearDown() override { lv_deinit(); }

    void render() { lv_timer_handler(); }

    uint16_t pixel(int32_t x, int32_t y) { return lv_test_display_get_pixel(disp, x, y); }

    /* Pixels in the area (inclusive) whose colour differs from `background`. */
    InkBox ink(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t background = 0x000000)
    {
        InkBox box;
        uint16_t bg = rgb565(background);
        for (int32_t y = y1; y <= y2; y++) {
            for (int32_t x = x1; x <= x2; x++) {
                if (pixel(x, y) == bg) continue;
                box.x1 = std::min(box.x1, x);
                box.y1 = std::min(box.y1, y);
                box.x2 = std::max(box.x2, x);
                box.y2 = std::max(box.y2, y);
                box.count++;
            }
        }
        return box;
    }

    /* The last frame compared with its reference image (tests/data/screens/lvgl). */
    void check_screen(const std::string& name)
    {
        const uint16_t* frame = lv_test_display_get_frame(disp);
        ASSERT_NE(frame, nullptr);
        EXPECT_TRUE(matches_reference("lvgl", name, ScreenImage::fromRgb565(frame, disp->hor_res, disp->ver_res)));
    }

    lv_obj_t* label(lv_obj_t* parent, int32_t x, int32_t y, int32_t w, int32_t h, const char* text)
    {
        lv_obj_t* l = lv_label_create(parent);
        lv_obj_set_pos(l, x, y);
        lv_obj_set_size(l, w, h);
        lv_obj_set_style_text_color(l, lv_color_white(), 0);
        lv_label_set_text(l, text);
        return l;
    }

    lv_display_t* disp = nullptr;
    lv_obj_t* scr = nullptr;
};
