#pragma once
// Text measuring and line breaking. Texts are UTF-8; lines break at line feeds and, when a
// maximum width is given, after blanks and punctuation, or inside a word that is wider than a
// whole line.
#include "src/font/lv_font.h"
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LV_TEXT_FLAG_NONE = 0x00,
    /* Ignore the maximum width: break only at line feeds. */
    LV_TEXT_FLAG_EXPAND = 0x01,
} lv_text_flag_t;

void lv_text_get_size(lv_point_t* size_res, const char* text, const lv_font_t* font, int32_t letter_space,
                      int32_t line_space, int32_t max_width, lv_text_flag_t flag);
int32_t lv_text_get_width(const char* txt, uint32_t length, const lv_font_t* font, int32_t letter_space);

#ifdef __cplusplus
}

#include <string>
#include <vector>

struct lv_text_line_t {
    uint32_t start; /* byte offset */
    uint32_t length; /* bytes, without the line feed */
    int32_t width;
};

/* Next code point of a UTF-8 text; advances *i (an invalid byte counts as one letter). */
uint32_t lv_text_utf8_next(const char* txt, uint32_t* i);
std::vector<lv_text_line_t> lv_text_break_lines(const char* text, const lv_font_t* font, int32_t letter_space,
                                                int32_t max_width);
/* The text cut so that it fits the area's lines, ending in "..." (or unchanged when it fits). */
std::string lv_text_with_dots(const char* text, const lv_font_t* font, int32_t letter_space, int32_t line_space,
                              int32_t width, int32_t height);
#endif
