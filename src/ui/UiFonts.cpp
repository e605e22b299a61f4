#include "ui/UiFonts.h"

// The glyph shapes come from the DejaVu family at a size whose digits fit the fonts' line height
// above the base line; the metrics are those of the unit's fonts.
namespace {

constexpr uint32_t kFirstLetter = 0x20;
constexpr uint32_t kLastLetter = 0x7E;

// These fonts have one range: any other letter has no glyph.
bool ascii_glyph_dsc(const lv_font_t* font, lv_font_glyph_dsc_t* dsc, uint32_t letter, uint32_t next)
{
    if (letter < kFirstLetter || letter > kLastLetter) return false;
    return lv_font_ttf_get_glyph_dsc(font, dsc, letter, next);
}

const lv_font_ttf_dsc_t arzet24 = {"DejaVuSansCondensed.ttf", 22};
const lv_font_ttf_dsc_t arzet_light102 = {"DejaVuSans-ExtraLight.ttf", 94};
const lv_font_ttf_dsc_t azer60 = {"DejaVuSans-Bold.ttf", 55};
const lv_font_ttf_dsc_t sans100 = {"DejaVuSans.ttf", 92};
const lv_font_ttf_dsc_t sans110 = {"DejaVuSans.ttf", 101};

} // namespace

// Fields: glyph callbacks, release, line height, base line, sub-pixel, kerning, static bitmap,
// underline position and thickness, descriptor, fallback, user data.
const lv_font_t ui_font_arzet24 = {
    ascii_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 24, 4, LV_FONT_SUBPX_NONE, 0, 0, -2, 1,
    &arzet24, nullptr, nullptr,
};

const lv_font_t ui_font_arzet_light102 = {
    ascii_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 101, 19, LV_FONT_SUBPX_NONE, 0, 0, -10, 5,
    &arzet_light102, nullptr, nullptr,
};

const lv_font_t ui_font_azer60 = {
    ascii_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 61, 12, LV_FONT_SUBPX_NONE, 0, 0, -6, 3,
    &azer60, nullptr, nullptr,
};

const lv_font_t ui_font_sans100 = {
    ascii_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 95, 21, LV_FONT_SUBPX_NONE, 0, 0, -18, 7,
    &sans100, nullptr, nullptr,
};

const lv_font_t ui_font_sans110 = {
    ascii_glyph_dsc, lv_font_ttf_get_glyph_bitmap, nullptr, 107, 25, LV_FONT_SUBPX_NONE, 0, 0, -35, 12,
    &sans110, nullptr, nullptr,
};
