// Text: UTF-8 decoding, line breaking and dots, and the colour helpers the theme uses.
#include "LvglTest.h"

#include <string>

namespace {

class TextTest : public LvglTest {};

TEST_F(TextTest, Utf8LettersIncludingBrokenSequences)
{
    struct Case {
        const char* text;
        std::vector<uint32_t> letters;
    };
    const Case cases[] = {
        {"aZ", {'a', 'Z'}},
        {"\xC3\xA9", {0xE9}},
        {LV_SYMBOL_WARNING, {0xF071}},
        {"\xF0\x9F\x8E\xB8", {0x1F3B8}},
        {"\xE2\x80x", {0xFFFD, 'x'}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> got;
        uint32_t i = 0;
        while (c.text[i]) got.push_back(lv_text_utf8_next(c.text, &i));
        EXPECT_EQ(got, c.letters) << c.text;
    }
}

TEST_F(TextTest, LinesFitTheWidthAndKeepEveryLetter)
{
    const char* texts[] = {"one two three four five six seven",
                           "Supercalifragilisticexpialidocious",
                           "a\nb\n\nc",
                           "short",
                           "x-y_z,w.v;u:t",
                           ""};
    for (const char* text : texts) {
        for (int32_t width : {20, 45, 80, 200}) {
            auto lines = lv_text_break_lines(text, &lv_font_montserrat_14, 0, width);
            std::string joined;
            for (const auto& line : lines) {
                /* a line is wider than the width only when it is a single letter */
                if (line.width > width) {
                    EXPECT_EQ(line.length, 1u) << text << " @" << width;
                }
                joined += std::string(text + line.start, line.length);
            }
            std::string letters(text);
            letters.erase(std::remove(letters.begin(), letters.end(), '\n'), letters.end());
            EXPECT_EQ(joined, letters) << text << " @" << width;
        }
    }
    /* words move to the next line whole when they fit there */
    auto lines = lv_text_break_lines("aaa bbb", &lv_font_montserrat_14, 0,
                                     lv_text_get_width("aaa bb", 6, &lv_font_montserrat_14, 0));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(std::string("aaa bbb").substr(lines[1].start, lines[1].length), "bbb");
}

TEST_F(TextTest, DotsGoOnTheLastLineThatFits)
{
    const char* text = "alpha beta gamma delta epsilon zeta eta theta";
    int32_t line_h = lv_font_get_line_height(&lv_font_montserrat_14);
    struct Case {
        int32_t height;
        size_t lines;
    };
    for (const Case& c : {Case{line_h, 1}, Case{2 * line_h, 2}, Case{2 * line_h + line_h / 2, 2}}) {
        std::string dotted = lv_text_with_dots(text, &lv_font_montserrat_14, 0, 0, 80, c.height);
        ASSERT_GE(dotted.size(), 3u);
        EXPECT_EQ(dotted.substr(dotted.size() - 3), "...");
        auto lines = lv_text_break_lines(dotted.c_str(), &lv_font_montserrat_14, 0, 80);
        EXPECT_EQ(lines.size(), c.lines) << dotted;
        EXPECT_EQ(std::string(text).rfind(dotted.substr(0, dotted.size() - 3), 0), 0u);
    }
    /* three letters or fewer are never turned into dots */
    EXPECT_EQ(lv_text_with_dots("WWW", &lv_font_montserrat_48, 0, 0, 10, 10), "WWW");
}

TEST_F(TextTest, FontSizesGrowAndEveryGlyphLiesInsideItsLine)
{
    const lv_font_t* fonts[] = {&lv_font_montserrat_14, &lv_font_montserrat_16, &lv_font_montserrat_18,
                                &lv_font_montserrat_20, &lv_font_montserrat_24, &lv_font_montserrat_26,
                                &lv_font_montserrat_28, &lv_font_montserrat_40, &lv_font_montserrat_48};
    const uint32_t symbols[] = {0xF00C, 0xF00D, 0xF054, 0xF053, 0xF067, 0xF068, 0xF071, 0xF55A, 0x2022};
    int32_t prev_h = 0, prev_w = 0;
    for (const lv_font_t* font : fonts) {
        int32_t w = lv_font_get_glyph_width(font, 'M', 0);
        EXPECT_GT(font->line_height, prev_h);
        EXPECT_GT(w, prev_w);
        EXPECT_GT(font->base_line, 0);
        prev_h = font->line_height;
        prev_w = w;
        /* A label as tall as the line never cuts a letter: no ink above or below the line. */
        std::vector<uint32_t> letters(symbols, symbols + sizeof(symbols) / sizeof(symbols[0]));
        for (uint32_t c = 0x21; c <= 0x7E; c++) letters.push_back(c);
        for (uint32_t c : letters) {
            lv_font_glyph_dsc_t g;
            ASSERT_TRUE(lv_font_get_glyph_dsc(font, &g, c, 0)) << font->line_height << " U+" << std::hex << c;
            EXPECT_GT(g.box_h, 0) << std::hex << c;
            EXPECT_GE(g.ofs_y, -font->base_line) << font->line_height << " U+" << std::hex << c;
            EXPECT_LE(g.ofs_y + g.box_h, font->line_height - font->base_line)
                << font->line_height << " U+" << std::hex << c;
            EXPECT_NE(lv_font_get_glyph_bitmap(&g, nullptr), nullptr);
        }
        lv_font_glyph_dsc_t none;
        EXPECT_FALSE(lv_font_get_glyph_dsc(font, &none, 0xE9, 0)) << "only ASCII and the symbols are compiled in";
    }
    EXPECT_EQ(lv_font_get_glyph_width(&lv_font_montserrat_14, '\t', 0),
              lv_font_get_glyph_width(&lv_font_montserrat_14, ' ', 0));
}

TEST_F(TextTest, ColourHelpers)
{
    EXPECT_EQ(lv_color_to_int(lv_color_hex(0x123456)), 0x123456u);
    EXPECT_EQ(lv_color_to_u32(lv_color_hex(0x123456)), 0xFF123456u);
    EXPECT_EQ(lv_color_to_int(lv_color_hex3(0xF80)), 0xFF8800u);
    EXPECT_EQ(lv_color_to_u16(lv_color_hex(0xFFFFFF)), 0xFFFF);
    EXPECT_EQ(lv_color_to_u16(lv_color_hex(0xFF0000)), 0xF800);
    EXPECT_EQ(lv_color_to_u16(lv_color_hex(0x00FF00)), 0x07E0);
    EXPECT_EQ(lv_color_to_int(lv_color_mix(lv_color_white(), lv_color_black(), 255)), 0xFFFFFFu);
    EXPECT_EQ(lv_color_to_int(lv_color_mix(lv_color_white(), lv_color_black(), 0)), 0x000000u);
    EXPECT_EQ(lv_color_to_int(lv_palette_main(LV_PALETTE_BLUE)), 0x2196F3u);
    EXPECT_EQ(lv_color_to_int(lv_palette_main(LV_PALETTE_RED)), 0xF44336u);
    EXPECT_EQ(lv_color_to_int(lv_palette_lighten(LV_PALETTE_GREY, 5)), 0xFAFAFAu);
    struct Hue {
        uint16_t h;
        uint32_t rgb;
    };
    for (Hue c : {Hue{0, 0xFF0000}, Hue{120, 0x00FF00}, Hue{240, 0x0000FF}, Hue{360, 0xFF0000}}) {
        uint32_t got = lv_color_to_int(lv_color_hsv_to_rgb(c.h, 100, 100));
        /* the 8-bit arithmetic may leave one step off full on the other channels */
        for (int shift : {16, 8, 0}) {
            EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF), static_cast<int>((c.rgb >> shift) & 0xFF), 2) << c.h;
        }
        lv_color_hsv_t hsv = lv_color_to_hsv(lv_color_hex(c.rgb));
        EXPECT_EQ(hsv.h, c.h % 360);
        EXPECT_EQ(hsv.s, 100);
        EXPECT_EQ(hsv.v, 100);
    }
}

} // namespace
