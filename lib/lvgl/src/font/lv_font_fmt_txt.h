#pragma once
// Fonts compiled into the program: glyph descriptors and 4-bit-per-pixel bitmaps in constant tables,
// looked up through character maps. The tables are written at build time by tools/lv_font_gen.cpp
// from TrueType files; nothing is read from a font file at run time.
#include "src/font/lv_font.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One glyph: where its bitmap starts in the font's bitmap array, its advance in 1/16 px, its box and
 * the box's offset (ofs_y: the box's bottom above the base line). */
typedef struct {
    uint32_t bitmap_index;
    uint32_t adv_w;
    uint16_t box_w;
    uint16_t box_h;
    int16_t ofs_x;
    int16_t ofs_y;
} lv_font_fmt_txt_glyph_dsc_t;

typedef enum {
    LV_FONT_FMT_TXT_CMAP_FORMAT0_TINY, /* range_length letters from range_start, consecutive glyph ids */
    LV_FONT_FMT_TXT_CMAP_SPARSE_TINY, /* the letters range_start + unicode_list[i], glyph id start + i */
} lv_font_fmt_txt_cmap_type_t;

typedef struct {
    uint32_t range_start;
    uint32_t range_length;
    uint16_t glyph_id_start;
    const uint16_t* unicode_list; /* ascending offsets from range_start (sparse maps) */
    uint16_t list_length;
    lv_font_fmt_txt_cmap_type_t type;
} lv_font_fmt_txt_cmap_t;

/* The font's dsc. Bitmaps are bpp (4 or 8) bits per pixel, row after row without padding, the first pixel in
 * the high bits of a byte; every glyph starts on a byte. Glyph id 0 means "no glyph". */
typedef struct {
    const uint8_t* glyph_bitmap;
    const lv_font_fmt_txt_glyph_dsc_t* glyph_dsc;
    const lv_font_fmt_txt_cmap_t* cmaps;
    uint16_t cmap_num;
    uint8_t bpp;
} lv_font_fmt_txt_dsc_t;

bool lv_font_get_glyph_dsc_fmt_txt(const lv_font_t* font, lv_font_glyph_dsc_t* dsc, uint32_t letter,
                                   uint32_t letter_next);
/* The glyph's packed bitmap in the font's table (format given by dsc->format). */
const void* lv_font_get_bitmap_fmt_txt(lv_font_glyph_dsc_t* dsc, lv_draw_buf_t* draw_buf);

#ifdef __cplusplus
}
#endif
