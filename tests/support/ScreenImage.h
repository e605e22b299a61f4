#pragma once
// Display frames compared with the reference images kept in tests/data/screens (one folder per
// suite). A pixel counts as changed when one of its colour channels differs by more than a small
// step; a frame matches when no more pixels than the tolerance changed. After an intended change of
// a screen, KESTRUN_UPDATE_SCREENS=1 makes the tests write their frames as the new references.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

struct ScreenImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb; // 0xRRGGBB, row by row

    // From RGB565 pixels, each channel widened as the display's PNG writer does.
    static ScreenImage fromRgb565(const uint16_t* pixels, int width, int height);
};

// An area (inclusive corners) whose pixels are not compared, for parts that depend on timing.
struct ScreenArea {
    int x1, y1, x2, y2;
};

bool read_screen_png(const std::string& path, ScreenImage& image);
bool write_screen_png(const std::string& path, const ScreenImage& image);

// Pixels outside `ignore` that differ; every pixel when the sizes differ.
int changed_pixels(const ScreenImage& a, const ScreenImage& b, const std::vector<ScreenArea>& ignore = {});

bool updating_screens();
std::string reference_screen(const std::string& suite, const std::string& name);

// Compares a frame with its reference (or, when updating, writes the reference unless no pixel
// outside `ignore` differs). A frame that does not match is kept as screens-failed/SUITE-NAME.png in
// the working folder, for a look.
testing::AssertionResult matches_reference(const std::string& suite, const std::string& name, const ScreenImage& frame,
                                           const std::vector<ScreenArea>& ignore = {});

// Changed pixels a frame may have and still match: room for rounding on other machines, not for a
// moved or changed text.
inline constexpr int kScreenTolerance = 24;
