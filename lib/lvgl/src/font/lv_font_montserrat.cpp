// The Montserrat sizes the screens name, drawn with DejaVu Sans. Each is a little smaller than its
// nominal size so that the line heights and base lines match those of the built-in fonts the
// screens were laid out for.
#include "src/font/lv_font.h"

namespace {
const lv_font_ttf_dsc_t montserrat_14_dsc = {"DejaVuSans.ttf", 13};
const lv_font_ttf_dsc_t montserrat_16_dsc = {"DejaVuSans.ttf", 15};
const lv_font_ttf_dsc_t montserrat_18_dsc = {"DejaVuSans.ttf", 17};
const lv_font_ttf_dsc_t montserrat_20_dsc = {"DejaVuSans.ttf", 18};
const lv_font_ttf_dsc_t montserrat_24_dsc = {"DejaVuSans.ttf", 22};
const lv_font_ttf_dsc_t montserrat_26_dsc = {"DejaVuSans.ttf", 24};
const lv_font_ttf_dsc_t montserrat_28_dsc = {"DejaVuSans.ttf", 26};
const lv_font_ttf_dsc_t montserrat_40_dsc = {"DejaVuSans.ttf", 37};
const lv_font_ttf_dsc_t montserrat_48_dsc = {"DejaVuSans.ttf", 44};
} // namespace

const lv_font_t lv_font_montserrat_14 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 16, 3, LV_FONT_SUBPX_NONE, 0, 0, -1, 1,
    &montserrat_14_dsc, nullptr, nullptr,
};

const lv_font_t lv_font_montserrat_16 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 18, 3, LV_FONT_SUBPX_NONE, 0, 0, -1, 1,
    &montserrat_16_dsc, nullptr, nullptr,
};

const lv_font_t lv_font_montserrat_18 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 20, 4, LV_FONT_SUBPX_NONE, 0, 0, -1, 1,
    &montserrat_18_dsc, nullptr, nullptr,
};

const lv_font_t lv_font_montserrat_20 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 22, 4, LV_FONT_SUBPX_NONE, 0, 0, -1, 1,
    &montserrat_20_dsc, nullptr, nullptr,
};

const lv_font_t lv_font_montserrat_24 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 27, 5, LV_FONT_SUBPX_NONE, 0, 0, -1, 1,
    &montserrat_24_dsc, nullptr, nullptr,
};

const lv_font_t lv_font_montserrat_26 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 29, 5, LV_FONT_SUBPX_NONE, 0, 0, -1, 1,
    &montserrat_26_dsc, nullptr, nullptr,
};

const lv_font_t lv_font_montserrat_28 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 31, 6, LV_FONT_SUBPX_NONE, 0, 0, -2, 1,
    &montserrat_28_dsc, nullptr, nullptr,
};

const lv_font_t lv_font_montserrat_40 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 45, 8, LV_FONT_SUBPX_NONE, 0, 0, -2, 2,
    &montserrat_40_dsc, nullptr, nullptr,
};

const lv_font_t lv_font_montserrat_48 = {
    lv_font_ttf_get_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 54, 10, LV_FONT_SUBPX_NONE, 0, 0, -3, 2,
    &montserrat_48_dsc, nullptr, nullptr,
};
