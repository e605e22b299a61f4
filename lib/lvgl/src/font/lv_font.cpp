#include "src/font/lv_font.h"

bool lv_font_get_glyph_dsc(const lv_font_t* font, lv_font_glyph_dsc_t* dsc, uint32_t letter, uint32_t letter_next)
{
    dsc->resolved_font = nullptr;
    dsc->adv_w = 0;
    dsc->box_w = 0;
    dsc->box_h = 0;
    dsc->ofs_x = 0;
    dsc->ofs_y = 0;
    dsc->format = LV_FONT_GLYPH_FORMAT_NONE;
    dsc->is_placeholder = 0;
    dsc->gid = 0;
    for (const lv_font_t* f = font; f; f = f->fallback) {
        if (f->get_glyph_dsc && f->get_glyph_dsc(f, dsc, letter, letter_next)) {
            dsc->resolved_font = f;
            return true;
        }
    }
    return false;
}

const void* lv_font_get_glyph_bitmap(lv_font_glyph_dsc_t* dsc, lv_draw_buf_t* draw_buf)
{
    if (dsc->resolved_font == nullptr || dsc->resolved_font->get_glyph_bitmap == nullptr) return nullptr;
    return dsc->resolved_font->get_glyph_bitmap(dsc, draw_buf);
}

uint16_t lv_font_get_glyph_width(const lv_font_t* font, uint32_t letter, uint32_t letter_next)
{
    lv_font_glyph_dsc_t dsc;
    if (font == nullptr || !lv_font_get_glyph_dsc(font, &dsc, letter, letter_next)) return 0;
    return dsc.adv_w;
}

int32_t lv_font_get_line_height(const lv_font_t* font)
{
    return font ? font->line_height : 0;
}
