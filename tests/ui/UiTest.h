#pragma once
// Fixture for the display tests: the display started as on the unit (host back end), helpers to
// read the widget tree and the RGB565 frame, and frames compared with reference images.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lvgl.h"
#include "src/display/lv_display_private.h"
#include "src/others/test/lv_test.h"
#include "support/ScreenImage.h"
#include "ui/LCD.h"

inline uint16_t rgb565(uint32_t rgb)
{
    return lv_color_to_u16(lv_color_hex(rgb));
}

inline uint32_t rgb(lv_color_t c)
{
    return lv_color_to_int(c);
}

class UiTest : public testing::Test {
protected:
    void SetUp() override
    {
        LCD::initialize();
        disp = lv_display_get_default();
    }

    void TearDown() override { lv_deinit(); }

    void render() { LCD::flush(); }

    std::vector<lv_obj_t*> widgets()
    {
        std::vector<lv_obj_t*> list;
        lv_obj_t* screen = lv_screen_active();
        for (uint32_t i = 0; i < lv_obj_get_child_count(screen); i++) list.push_back(lv_obj_get_child(screen, i));
        return list;
    }

    lv_area_t area(lv_obj_t* obj)
    {
        lv_area_t a;
        lv_obj_get_coords(obj, &a);
        return a;
    }

    uint16_t pixel(int x, int y) { return lv_test_display_get_pixel(disp, x, y); }

    // Bounding box of the pixels in an area that differ from the background colour.
    lv_area_t ink(int x1, int y1, int x2, int y2, uint32_t background = 0x000000)
    {
        lv_area_t box = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
        for (int y = y1; y <= y2; y++) {
            for (int x = x1; x <= x2; x++) {
                if (pixel(x, y) == rgb565(background)) continue;
                box.x1 = std::min<int32_t>(box.x1, x);
                box.y1 = std::min<int32_t>(box.y1, y);
                box.x2 = std::max<int32_t>(box.x2, x);
                box.y2 = std::max<int32_t>(box.y2, y);
            }
        }
        return box;
    }

    // The last frame compared with its reference image (tests/data/screens/ui), but for the areas
    // that depend on timing.
    void check_screen(const std::string& name, const std::vector<ScreenArea>& ignore = {})
    {
        const uint16_t* frame = lv_test_display_get_frame(disp);
        ASSERT_NE(frame, nullptr);
        EXPECT_TRUE(
            matches_reference("ui", name, ScreenImage::fromRgb565(frame, disp->hor_res, disp->ver_res), ignore));
    }

    lv_display_t* disp = nullptr;
};
