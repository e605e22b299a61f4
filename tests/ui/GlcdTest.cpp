#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/Glcd.h"
#include "ui/GlcdChart.h"

namespace {

bool px(int x, int y)
{
    return (glcd_buffer[(127 - x) * 8 + y / 8] >> (y % 8)) & 1;
}

int count_pixels(int x1 = 0, int y1 = 0, int x2 = 127, int y2 = 63)
{
    int n = 0;
    for (int x = x1; x <= x2; x++)
        for (int y = y1; y <= y2; y++) n += px(x, y);
    return n;
}

// Columns x1..x2 that hold any set pixel, as a pair (first, last); (-1, -1) when none.
std::pair<int, int> ink_columns()
{
    int first = -1, last = -1;
    for (int x = 0; x < 128; x++) {
        if (count_pixels(x, 0, x, 63) == 0) continue;
        if (first < 0) first = x;
        last = x;
    }
    return {first, last};
}

class Glcd : public testing::Test {
protected:
    void SetUp() override { glcd_initialize(); }
};

TEST_F(Glcd, PixelAddressAndModes)
{
    struct Case {
        int x, y, byte, bit;
    };
    for (Case c : {Case{0, 0, 1016, 0}, Case{127, 63, 7, 7}, Case{5, 10, 977, 2}, Case{127, 0, 0, 0}}) {
        glcd_initialize();
        glcd_drawPixel(uint8_t(c.x), uint8_t(c.y), 1);
        EXPECT_EQ(glcd_buffer[c.byte], 1 << c.bit) << c.x << "," << c.y;
        EXPECT_EQ(count_pixels(), 1);
        glcd_drawPixel(uint8_t(c.x), uint8_t(c.y), 2);
        EXPECT_EQ(count_pixels(), 0) << "invert";
    }

    glcd_clear(1);
    EXPECT_EQ(count_pixels(), 128 * 64);
    glcd_drawPixel(3, 4, 0);
    EXPECT_EQ(count_pixels(), 128 * 64 - 1);
    EXPECT_FALSE(px(3, 4));

    // Mode 3 inverts the seven rows after the pixel, within the window of eight rows.
    glcd_initialize();
    glcd_drawPixel(10, 20, 3);
    EXPECT_FALSE(px(10, 20));
    EXPECT_EQ(count_pixels(10, 21, 10, 27), 7);
    EXPECT_EQ(count_pixels(), 7);
}

TEST_F(Glcd, PatternWindowWrapsFromTheLastPageToTheFirst)
{
    glcd_writeByteBufferedAt(9, 60, 0xFF, 1);
    EXPECT_EQ(count_pixels(9, 60, 9, 63), 4);
    EXPECT_EQ(count_pixels(9, 0, 9, 3), 4);
    EXPECT_EQ(count_pixels(), 8);

    glcd_initialize();
    glcd_writeByteBufferedAt(0, 13, 0x81, 1); // rows 13 and 20, across pages 1 and 2
    EXPECT_TRUE(px(0, 13));
    EXPECT_TRUE(px(0, 20));
    EXPECT_EQ(count_pixels(), 2);
}

TEST_F(Glcd, OutsideTheBufferNothingIsWritten)
{
    uint8_t before[GLCD_BUFFER_SIZE];
    std::memcpy(before, glcd_buffer, sizeof before);
    glcd_drawPixel(128, 0, 1);
    glcd_drawPixel(0, 64, 1);
    glcd_writeByteBufferedAt(200, 200, 0xFF, 1);
    EXPECT_EQ(std::memcmp(before, glcd_buffer, sizeof before), 0);
    // Shapes are clipped, not wrapped.
    glcd_fillRect(120, 60, 255, 255, 1);
    EXPECT_EQ(count_pixels(), 8 * 4);
    glcd_initialize();
    glcd_drawCircle(2, 2, 5, 1);
    EXPECT_GT(count_pixels(), 0);
    EXPECT_EQ(count_pixels(0, 40, 127, 63) + count_pixels(100, 0, 127, 63), 0);
}

TEST_F(Glcd, Shapes)
{
    struct Rect {
        int x1, y1, x2, y2;
    };
    for (Rect r : {Rect{3, 5, 40, 30}, Rect{40, 30, 3, 5}, Rect{0, 0, 127, 63}, Rect{7, 8, 7, 15}, Rect{2, 9, 9, 9}}) {
        glcd_initialize();
        glcd_fillRect(uint8_t(r.x1), uint8_t(r.y1), uint8_t(r.x2), uint8_t(r.y2), 1);
        int w = std::abs(r.x2 - r.x1) + 1, h = std::abs(r.y2 - r.y1) + 1;
        int x0 = std::min(r.x1, r.x2), y0 = std::min(r.y1, r.y2);
        EXPECT_EQ(count_pixels(), w * h);
        EXPECT_EQ(count_pixels(x0, y0, x0 + w - 1, y0 + h - 1), w * h);
        glcd_fillRect(uint8_t(r.x1), uint8_t(r.y1), uint8_t(r.x2), uint8_t(r.y2), 2);
        EXPECT_EQ(count_pixels(), 0) << "inverting twice";
    }

    glcd_drawLine(0, 0, 10, 5, 1);
    EXPECT_TRUE(px(0, 0));
    EXPECT_TRUE(px(10, 5));
    EXPECT_EQ(count_pixels(), 11) << "one pixel per column of a flat line";

    glcd_initialize();
    glcd_drawRect(10, 10, 20, 15, 1);
    EXPECT_EQ(count_pixels(), 2 * 11 + 2 * 4);
    EXPECT_EQ(count_pixels(11, 11, 19, 14), 0);

    glcd_initialize();
    glcd_drawCircle(64, 32, 10, 1);
    for (auto p : {std::pair{74, 32}, {54, 32}, {64, 22}, {64, 42}}) EXPECT_TRUE(px(p.first, p.second));
    EXPECT_FALSE(px(64, 32));
    glcd_initialize();
    glcd_fillCircle(64, 32, 10, 1);
    EXPECT_TRUE(px(64, 32));
    EXPECT_NEAR(count_pixels(), 3.14159 * 10.5 * 10.5, 30);
}

// A proportional font: characters 'a' (2 columns), 'b' (1 column), 'c' (3 columns), 10 rows high.
const uint8_t kTestFont[] = {
    1,    0,    0,    10,   'a',  3,    2, 1, 3, 0xFF, 0x03, 0x01, 0x02, // a
    0xFF, 0x00, // b
    0x01, 0x00, 0x01, 0x00, 0x01, 0x00, // c
};

TEST_F(Glcd, FontTexts)
{
    struct Case {
        const char* text;
        int endX;
        int pixels;
    };
    const std::vector<Case> cases = {
        {"a", 13, 8 + 2 + 1 + 1},
        {"ab", 15, 12 + 8},
        {"axb", 15, 12 + 8}, // 'x' is outside the font: no ink, no advance
        {"", 10, 0},
        {"c", 14, 3},
    };
    for (const Case& c : cases) {
        glcd_initialize();
        EXPECT_EQ(glcd_drawStringFont(10, 2, c.text, kTestFont, 1), c.endX) << c.text;
        EXPECT_EQ(count_pixels(), c.pixels) << c.text;
    }

    // Right aligned: the last column at the right x.
    glcd_initialize();
    glcd_drawStringFontRightAligned(100, 0, "ac", kTestFont, 1);
    EXPECT_EQ(ink_columns(), std::make_pair(100 - 5, 100));

    // Clipped to limits; cut at whole characters.
    glcd_initialize();
    glcd_drawStringFontLimited(10, 0, 11, 13, "ab", kTestFont, 1);
    EXPECT_EQ(ink_columns(), std::make_pair(11, 13));
    EXPECT_EQ(count_pixels(), 2 + 8);
    glcd_initialize();
    glcd_drawStringFontLimitedCut(10, 0, 16, "aca", kTestFont, 1);
    EXPECT_EQ(ink_columns(), std::make_pair(10, 15));
    EXPECT_EQ(count_pixels(), 12 + 3);

    // Trimmed to two characters from position 1.
    glcd_initialize();
    EXPECT_EQ(glcd_drawStringFontTrim(0, 0, "abca", 2, 1, kTestFont, 1), 1 + 1 + 3 + 1);

    // The degree sign is a circle of radius height / 8.
    glcd_initialize();
    EXPECT_EQ(glcd_drawStringFont(20, 0, "\xB0", kTestFont, 1), 20 + 3 + 1);
    EXPECT_TRUE(px(21, 1));
}

TEST_F(Glcd, SmallFontAndBuiltInGlyphs)
{
    EXPECT_EQ(glcd_drawString(0, 0, "AB1", 1), 12) << "four pixels per character";
    EXPECT_EQ(glcd_drawString(0, 10, "a~b", 1), 12) << "a character without a glyph still advances";
    // Lower and upper case look the same; unknown characters draw as zero.
    EXPECT_EQ(std::memcmp(getFontAddress('q'), getFontAddress('Q'), 3), 0);
    EXPECT_EQ(std::memcmp(getFontAddress('#'), getFontAddress('0'), 3), 0);
    EXPECT_EQ(std::memcmp(getBigFontAddress('+'), getBigFontAddress('0'), 5) != 0, true);
    EXPECT_TRUE(isValue('7'));
    EXPECT_FALSE(isBigValue('x'));
    // Every glyph but the space has ink, and no two glyphs are alike.
    const char* all = "0123456789abcdefghijklmnopqrstuvwxyz_-:.+";
    for (const char* a = all; *a; a++) {
        EXPECT_NE(getFontAddress(*a)[0] | getFontAddress(*a)[1] | getFontAddress(*a)[2], 0) << *a;
        for (const char* b = a + 1; *b; b++) {
            EXPECT_NE(std::memcmp(getFontAddress(*a), getFontAddress(*b), 3), 0) << *a << *b;
            EXPECT_NE(std::memcmp(getBigFontAddress(*a), getBigFontAddress(*b), 5), 0) << *a << *b;
        }
    }
    // The fixed small font also draws the punctuation of the screens' texts ("Are you sure?",
    // "VAL 50%"), each glyph its own.
    const std::string marks = "?%!,;/()'\"#=<>*";
    std::vector<std::vector<int>> seen;
    for (char c : marks + "0a") {
        glcd_initialize();
        glcd_drawStringFont(0, 0, std::string(1, c).c_str(), glcd_font_small, 1);
        std::vector<int> on;
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 3; x++)
                if (px(x, y)) on.push_back(y * 3 + x);
        EXPECT_FALSE(on.empty()) << c;
        for (const auto& other : seen) EXPECT_NE(on, other) << c;
        seen.push_back(on);
    }
    glcd_initialize();
    glcd_drawBigChar(0, 0, ' ', 0);
    EXPECT_EQ(count_pixels(), 7 * 10) << "the box of the opposite mode";
    glcd_drawBigChar(0, 0, '1', 1);
    EXPECT_EQ(count_pixels(), 10) << "a set glyph on a cleared box";
}

TEST(GlcdChart, ScaleFollowsRangeAndLimits)
{
    float values[] = {25, 30, 35, 32};
    struct Case {
        float rangeMin, rangeMax;
        bool useRange;
        float limitMin, limitMax;
        bool useLimitMin, useLimitMax;
        float min, max;
    };
    const std::vector<Case> cases = {
        {0, 0, false, 0, 0, false, false, 25, 35},
        {20, 40, true, 0, 0, false, false, 20, 40},
        {20, 40, true, 0, 250, true, false, 20, 40},
        {20, 40, true, 22, 38, true, true, 22, 38},
    };
    for (const Case& c : cases) {
        glcd_initialize();
        GlcdChart chart;
        chart.setData(values, 4);
        chart.setSize(1, 18, 90, 55);
        chart.setYRange(c.rangeMin, c.rangeMax, c.useRange, c.useRange);
        chart.setYLimits(c.limitMin, c.limitMax, c.useLimitMin, c.useLimitMax);
        chart.draw(0, 3, 2);
        EXPECT_FLOAT_EQ(chart.getMin(), c.min);
        EXPECT_FLOAT_EQ(chart.getMax(), c.max);
        EXPECT_GT(count_pixels(1, 18, 90, 55), 0);
        EXPECT_EQ(count_pixels(92, 0, 127, 63) + count_pixels(0, 57, 127, 63), 0) << "stays in its box";
    }
    GlcdChart empty;
    empty.setData(values, 0);
    EXPECT_EQ(empty.data, nullptr);
    empty.setSize(0, 0, 50, 40);
    empty.draw(0, 10);
}

} // namespace
