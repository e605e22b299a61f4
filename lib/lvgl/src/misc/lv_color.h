#pragma once
// 24-bit colours, the material palette the default theme draws with, and the conversions to the
// RGB565 frame. Opacities are 0 (transparent) to 255 (cover).
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
} lv_color_t;

typedef struct {
    uint16_t blue : 5;
    uint16_t green : 6;
    uint16_t red : 5;
} lv_color16_t;

typedef struct {
    uint16_t h;
    uint8_t s;
    uint8_t v;
} lv_color_hsv_t;

typedef enum {
    LV_PALETTE_RED,
    LV_PALETTE_PINK,
    LV_PALETTE_PURPLE,
    LV_PALETTE_DEEP_PURPLE,
    LV_PALETTE_INDIGO,
    LV_PALETTE_BLUE,
    LV_PALETTE_LIGHT_BLUE,
    LV_PALETTE_CYAN,
    LV_PALETTE_TEAL,
    LV_PALETTE_GREEN,
    LV_PALETTE_LIGHT_GREEN,
    LV_PALETTE_LIME,
    LV_PALETTE_YELLOW,
    LV_PALETTE_AMBER,
    LV_PALETTE_ORANGE,
    LV_PALETTE_DEEP_ORANGE,
    LV_PALETTE_BROWN,
    LV_PALETTE_BLUE_GREY,
    LV_PALETTE_GREY,
    LV_PALETTE_LAST,
    LV_PALETTE_NONE = 0xff,
} lv_palette_t;

typedef enum {
    LV_COLOR_FORMAT_UNKNOWN = 0,
    LV_COLOR_FORMAT_A8 = 0x0E,
    LV_COLOR_FORMAT_RGB565 = 0x12,
    LV_COLOR_FORMAT_RGB888 = 0x0F,
    LV_COLOR_FORMAT_ARGB8888 = 0x10,
    LV_COLOR_FORMAT_XRGB8888 = 0x11,
} lv_color_format_t;

lv_color_t lv_color_hex(uint32_t c);
lv_color_t lv_color_hex3(uint32_t c);
lv_color_t lv_color_make(uint8_t r, uint8_t g, uint8_t b);
lv_color_t lv_color_white(void);
lv_color_t lv_color_black(void);
/* 0xRRGGBB */
uint32_t lv_color_to_int(lv_color_t c);
/* 0xFFRRGGBB */
uint32_t lv_color_to_u32(lv_color_t c);
uint16_t lv_color_to_u16(lv_color_t c);
bool lv_color_eq(lv_color_t c1, lv_color_t c2);
/* mix = 255 gives c1, 0 gives c2 */
lv_color_t lv_color_mix(lv_color_t c1, lv_color_t c2, uint8_t mix);
lv_color_t lv_color_lighten(lv_color_t c, lv_opa_t lvl);
lv_color_t lv_color_darken(lv_color_t c, lv_opa_t lvl);
/* h 0..359, s and v 0..100 */
lv_color_t lv_color_hsv_to_rgb(uint16_t h, uint8_t s, uint8_t v);
lv_color_hsv_t lv_color_to_hsv(lv_color_t color);

lv_color_t lv_palette_main(lv_palette_t p);
/* lvl 1..5 */
lv_color_t lv_palette_lighten(lv_palette_t p, uint8_t lvl);
/* lvl 1..4 */
lv_color_t lv_palette_darken(lv_palette_t p, uint8_t lvl);

#ifdef __cplusplus
}
#endif
