#include "src/font/lv_font_fmt_txt.h"

#include <algorithm>

namespace {

const lv_font_fmt_txt_dsc_t* fmt_of(const lv_font_t* font)
{
    return static_cast<const lv_font_fmt_txt_dsc_t*>(font->dsc);
}

uint32_t glyph_id(const lv_font_fmt_txt_dsc_t* fmt, uint32_t letter)
{
    for (uint16_t i = 0; i < fmt->cmap_num; i++) {
        const lv_font_fmt_txt_cmap_t& map = fmt->cmaps[i];
        if (letter < map.range_start || letter - map.range_start >= map.range_length) continue;
        const uint32_t offset = letter - map.range_start;
        if (map.type == LV_FONT_FMT_TXT_CMAP_FORMAT0_TINY) return map.glyph_id_start + offset;
        const uint16_t* end = map.unicode_list + map.list_length;
        const uint16_t* at = std::lower_bound(map.unicode_list, end, offset);
        if (at != end && *at == offset) return map.glyph_id_start + static_cast<uint32_t>(at - map.unicode_list);
    }
    return 0;
}

} // namespace

bool lv_font_get_glyph_dsc_fmt_txt(const lv_font_t* font, lv_font_glyph_dsc_t* dsc, uint32_t letter,
                                   uint32_t letter_next)
{
    LV_UNUSED(letter_next);
    if (font == nullptr || font->dsc == nullptr) return false;
    if (letter == '\t') letter = ' ';
    const lv_font_fmt_txt_dsc_t* fmt = fmt_of(font);
    const uint32_t id = glyph_id(fmt, letter);
    if (id == 0) return false;
    const lv_font_fmt_txt_glyph_dsc_t& g = fmt->glyph_dsc[id];
    dsc->resolved_font = font;
    dsc->adv_w = static_cast<uint16_t>((g.adv_w + 8) >> 4);
    dsc->box_w = g.box_w;
    dsc->box_h = g.box_h;
    dsc->ofs_x = g.ofs_x;
    dsc->ofs_y = g.ofs_y;
    dsc->format = fmt->bpp == 4 ? LV_FONT_GLYPH_FORMAT_A4 : LV_FONT_GLYPH_FORMAT_A8;
    dsc->is_placeholder = 0;
    dsc->gid = id;
    return true;
}

const void* lv_font_get_bitmap_fmt_txt(lv_font_glyph_dsc_t* dsc, lv_draw_buf_t* draw_buf)
{
    LV_UNUSED(draw_buf);
    if (dsc == nullptr || dsc->resolved_font == nullptr || dsc->gid == 0) return nullptr;
    const lv_font_fmt_txt_dsc_t* fmt = fmt_of(dsc->resolved_font);
    return fmt->glyph_bitmap + fmt->glyph_dsc[dsc->gid].bitmap_index;
}
