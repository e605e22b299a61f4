#pragma once
// Fonts: a font answers, for a Unicode letter, the glyph's box and advance and its coverage
// bitmap. The fonts of this layer (the Montserrat sizes and any font an application defines
// with lv_font_ttf_dsc_t) are drawn from TrueType files through FreeType, anti-aliased with 16
// coverage levels as 4-bit-per-pixel fonts are.
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
 * base line. The bitmap is box_w x box_h bytes of coverage (0..255), row by row. */
typedef struct {
    const lv_font_t * resolved_font;
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
    bool (*get_glyph_dsc)(const lv_font_t * font, lv_font_glyph_dsc_t * dsc, uint32_t letter, uint32_t letter_next);
    const void * (*get_glyph_bitmap)(lv_font_glyph_dsc_t * dsc, lv_draw_buf_t * draw_buf);
    void (*release_glyph)(const lv_font_t * font, lv_font_glyph_dsc_t * dsc);
    int32_t line_height;
    int32_t base_line;
    uint8_t subpx : 2;
    uint8_t kerning : 1;
    uint8_t static_bitmap : 1;
    int8_t underline_position;
    int8_t underline_thickness;
    const void * dsc;
    const lv_font_t * fallback;
    void * user_data;
};

#define LV_FONT_DECLARE(font_name) extern const lv_font_t font_name;

bool lv_font_get_glyph_dsc(const lv_font_t * font, lv_font_glyph_dsc_t * dsc, uint32_t letter, uint32_t letter_next);
const void * lv_font_get_glyph_bitmap(lv_font_glyph_dsc_t * dsc, lv_draw_buf_t * draw_buf);
uint16_t lv_font_get_glyph_width(const lv_font_t * font, uint32_t letter, uint32_t letter_next);
int32_t lv_font_get_line_height(const lv_font_t * font);

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

/* This layer's TrueType fonts: the descriptor a font's dsc points to. `file` is a font file name
 * in the system's DejaVu folder (or an absolute path); `size_px` the em size in pixels. The font's
 * own line_height and base_line place the glyphs, so a font can be given any metrics. */
typedef struct {
    const char * file;
    int32_t size_px;
} lv_font_ttf_dsc_t;

bool lv_font_ttf_get_glyph_dsc(const lv_font_t * font, lv_font_glyph_dsc_t * dsc, uint32_t letter, uint32_t letter_next);
const void * lv_font_ttf_get_glyph_bitmap(lv_font_glyph_dsc_t * dsc, lv_draw_buf_t * draw_buf);
/* Folder the TrueType files are looked up in (default /usr/share/fonts/truetype/dejavu). */
void lv_font_ttf_set_folder(const char * path);

#ifdef __cplusplus
}
#endif
