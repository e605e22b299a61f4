#pragma once
// Fonts: a font answers, for a Unicode letter, the glyph's box and advance and its coverage
// bitmap. The fonts of this layer (the Montserrat sizes) and of the application are compiled in:
// glyph tables made at build time (lv_font_fmt_txt.h), 4 bits per pixel.
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _lv_draw_buf_t lv_draw_buf_t;

typedef enum {
    LV_FONT_GLYPH_FORMAT_NONE = 0,
    LV_FONT_GLYPH_FORMAT_A1 = 0x01,
    LV_FONT_GLYPH_FORMAT_A2 = 0x02,
    LV_FONT_GLYPH_FORMAT_A4 = 0x04,
    LV_FONT_GLYPH_FORMAT_A8 = 0x08,
} lv_font_glyph_format_t;

typedef enum {
    LV_FONT_SUBPX_NONE,
    LV_FONT_SUBPX_HOR,
    LV_FONT_SUBPX_VER,
    LV_FONT_SUBPX_BOTH,
} lv_font_subpx_t;

typedef enum {
    LV_FONT_KERNING_NORMAL,
    LV_FONT_KERNING_NONE,
} lv_font_kerning_t;

/* One glyph: box size and offsets in pixels; ofs_y is the distance of the box's bottom above the
 * base line. The bitmap holds box_w x box_h coverage values, row by row, in `format` (A8: one byte
 * 0..255 per pixel; A4: two pixels a byte, 0..15, the first in the high half). */
typedef struct {
    const lv_font_t* resolved_font;
    uint16_t adv_w;
    uint16_t box_w;
    uint16_t box_h;
    int16_t ofs_x;
    int16_t ofs_y;
    lv_font_glyph_format_t format;
    uint8_t is_placeholder;
    uint32_t gid;
} lv_font_glyph_dsc_t;

struct _lv_font_t {
    bool (*get_glyph_dsc)(const lv_font_t* font, lv_font_glyph_dsc_t* dsc, uint32_t letter, uint32_t letter_next);
    const void* (*get_glyph_bitmap)(lv_font_glyph_dsc_t* dsc, lv_draw_buf_t* draw_buf);
    void (*release_glyph)(const lv_font_t* font, lv_font_glyph_dsc_t* dsc);
    int32_t line_height;
    int32_t base_line;
    uint8_t subpx : 2;
    uint8_t kerning : 1;
    uint8_t static_bitmap : 1;
    int8_t underline_position;
    int8_t underline_thickness;
    const void* dsc;
    const lv_font_t* fallback;
    void* user_data;
};

#define LV_FONT_DECLARE(font_name) extern const lv_font_t font_name;

bool lv_font_get_glyph_dsc(const lv_font_t* font, lv_font_glyph_dsc_t* dsc, uint32_t letter, uint32_t letter_next);
const void* lv_font_get_glyph_bitmap(lv_font_glyph_dsc_t* dsc, lv_draw_buf_t* draw_buf);
uint16_t lv_font_get_glyph_width(const lv_font_t* font, uint32_t letter, uint32_t letter_next);
int32_t lv_font_get_line_height(const lv_font_t* font);

LV_FONT_DECLARE(lv_font_montserrat_14)
LV_FONT_DECLARE(lv_font_montserrat_16)
LV_FONT_DECLARE(lv_font_montserrat_18)
LV_FONT_DECLARE(lv_font_montserrat_20)
LV_FONT_DECLARE(lv_font_montserrat_24)
LV_FONT_DECLARE(lv_font_montserrat_26)
LV_FONT_DECLARE(lv_font_montserrat_28)
LV_FONT_DECLARE(lv_font_montserrat_40)
LV_FONT_DECLARE(lv_font_montserrat_48)

#define LV_FONT_DEFAULT (&lv_font_montserrat_14)

#ifdef __cplusplus
}
#endif
