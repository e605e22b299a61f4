// Labels: wrapping, dots, clipping, alignment of the text inside the label, underline.
#include "LvglTest.h"

#include <string>

namespace {

class LabelTest : public LvglTest {};

TEST_F(LabelTest, TextIsAlignedInsideTheLabelWithinTwoPixels)
{
    struct Case {
        lv_text_align_t align;
    };
    for (lv_text_align_t align : {LV_TEXT_ALIGN_LEFT, LV_TEXT_ALIGN_CENTER, LV_TEXT_ALIGN_RIGHT}) {
        lv_obj_clean(scr);
        lv_obj_t* l = label(scr, 40, 50, 200, 24, "HIH");
        lv_obj_set_style_text_font(l, &lv_font_montserrat_20, 0);
        lv_obj_set_style_text_align(l, align, 0);
        render();
        InkBox box = ink(0, 0, 319, 169);
        ASSERT_FALSE(box.empty());
        int32_t text_w = lv_text_get_width("HIH", 3, &lv_font_montserrat_20, 0);
        int32_t expected_x1 = align == LV_TEXT_ALIGN_LEFT     ? 40
                              : align == LV_TEXT_ALIGN_CENTER ? 40 + (200 - text_w) / 2
                                                              : 240 - text_w;
        EXPECT_NEAR(box.x1, expected_x1, 2) << "align " << align;
        EXPECT_NEAR(box.x2, expected_x1 + text_w - 1, 2) << "align " << align;
        EXPECT_GE(box.y1, 50);
        EXPECT_LE(box.y2, 73);
    }
}

TEST_F(LabelTest, TooLongTextEndsInDotsInsideItsWidth)
{
    lv_obj_t* l = label(scr, 20, 40, 72, 16, "A title much longer than the box");
    lv_label_set_long_mode(l, LV_LABEL_LONG_DOT);
    render();
    std::string drawn = lv_label_get_text_drawn(l);
    ASSERT_GE(drawn.size(), 4u);
    EXPECT_EQ(drawn.substr(drawn.size() - 3), "...");
    EXPECT_EQ(std::string("A title much longer than the box").rfind(drawn.substr(0, drawn.size() - 3), 0), 0u);
    EXPECT_LE(lv_text_get_width(drawn.c_str(), static_cast<uint32_t>(drawn.size()), &lv_font_montserrat_14, 0), 72);
    InkBox box = ink(0, 0, 319, 169);
    EXPECT_GE(box.x1, 20);
    EXPECT_LE(box.x2, 91);
    EXPECT_LE(box.y2, 55);
    /* the stored text is untouched */
    EXPECT_STREQ(lv_label_get_text(l), "A title much longer than the box");

    /* a text that fits is drawn as it is */
    lv_label_set_text(l, "Gain");
    EXPECT_STREQ(lv_label_get_text_drawn(l), "Gain");
}

TEST_F(LabelTest, WrapGrowsAContentHeightLabelAndClipCutsAFixedOne)
{
    lv_obj_t* wrap = lv_label_create(scr);
    lv_obj_set_width(wrap, 80);
    lv_label_set_text(wrap, "one two three four five six");
    int32_t line_h = lv_font_get_line_height(&lv_font_montserrat_14);
    int32_t h = lv_obj_get_height(wrap);
    EXPECT_GE(h, 2 * line_h);
    EXPECT_EQ(h % line_h, 0);
    lv_point_t size;
    lv_text_get_size(&size, "one two three four five six", &lv_font_montserrat_14, 0, 0, 80, LV_TEXT_FLAG_NONE);
    EXPECT_LE(size.x, 80);
    EXPECT_EQ(size.y, h);

    /* a word longer than the line is cut between letters */
    lv_text_get_size(&size, "Supercalifragilistic", &lv_font_montserrat_14, 0, 0, 40, LV_TEXT_FLAG_NONE);
    EXPECT_LE(size.x, 40);
    EXPECT_GT(size.y, line_h);

    lv_obj_clean(scr);
    lv_obj_t* clip = label(scr, 10, 10, 60, line_h, "first line second line third line");
    lv_label_set_long_mode(clip, LV_LABEL_LONG_CLIP);
    render();
    InkBox box = ink(0, 0, 319, 169);
    EXPECT_GE(box.x1, 10);
    EXPECT_LE(box.x2, 69);
    EXPECT_LE(box.y2, 10 + line_h - 1);
}

TEST_F(LabelTest, LineFeedsAndFormattingAndLetterSpace)
{
    lv_obj_t* l = lv_label_create(scr);
    lv_label_set_text_fmt(l, "%02d%c\n%s", 2, 'B', "x");
    EXPECT_STREQ(lv_label_get_text(l), "02B\nx");
    EXPECT_EQ(lv_obj_get_height(l), 2 * lv_font_get_line_height(&lv_font_montserrat_14));
    int32_t w = lv_obj_get_width(l);
    lv_obj_set_style_text_letter_space(l, 3, 0);
    EXPECT_EQ(lv_obj_get_width(l), w + 2 * 3);
    lv_obj_set_style_text_letter_space(l, -4, 0);
    EXPECT_EQ(lv_obj_get_width(l), w - 2 * 4);
}

TEST_F(LabelTest, UnderlineIsDrawnBelowTheBaseLine)
{
    lv_obj_t* plain = label(scr, 10, 10, 100, 20, "under");
    lv_obj_t* marked = label(scr, 10, 60, 100, 20, "under");
    lv_obj_set_style_text_decor(marked, LV_TEXT_DECOR_UNDERLINE, 0);
    LV_UNUSED(plain);
    render();
    InkBox a = ink(0, 0, 319, 49);
    InkBox b = ink(0, 50, 319, 169);
    EXPECT_GT(b.count, a.count);
    EXPECT_GT(b.y2 - 50, a.y2);
    check_screen("label_underline");
}

TEST_F(LabelTest, SymbolsHaveGlyphs)
{
    const char* symbols[] = {LV_SYMBOL_WARNING,   LV_SYMBOL_MINUS, LV_SYMBOL_RIGHT, LV_SYMBOL_PLUS,
                             LV_SYMBOL_BACKSPACE, LV_SYMBOL_OK,    LV_SYMBOL_CLOSE};
    for (const char* s : symbols) {
        lv_obj_clean(scr);
        lv_obj_t* l = lv_label_create(scr);
        lv_obj_set_pos(l, 10, 10);
        lv_obj_set_style_text_color(l, lv_color_white(), 0);
        lv_obj_set_style_text_font(l, &lv_font_montserrat_20, 0);
        lv_label_set_text(l, s);
        render();
        EXPECT_GT(ink(0, 0, 319, 169).count, 5) << s;
        EXPECT_GT(lv_obj_get_width(l), 4) << s;
    }
}

} // namespace
