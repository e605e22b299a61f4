#pragma once
// Styles: sets of property values. A static style is declared by the application, initialised
// once with lv_style_init and added to objects for a part and state; local styles are the
// per-object values the lv_obj_set_style_* calls write.
#include "src/font/lv_font.h"
#include "src/misc/lv_color.h"
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    LV_STATE_DEFAULT = 0x0000,
    LV_STATE_CHECKED = 0x0001,
    LV_STATE_FOCUSED = 0x0002,
    LV_STATE_FOCUS_KEY = 0x0004,
    LV_STATE_EDITED = 0x0008,
    LV_STATE_HOVERED = 0x0010,
    LV_STATE_PRESSED = 0x0020,
    LV_STATE_SCROLLED = 0x0040,
    LV_STATE_DISABLED = 0x0080,
    LV_STATE_USER_1 = 0x1000,
    LV_STATE_USER_2 = 0x2000,
    LV_STATE_USER_3 = 0x4000,
    LV_STATE_USER_4 = 0x8000,
    LV_STATE_ANY = 0xFFFF,

    /* Parts share the enumeration with the states: selectors are made by or-ing one of each. */
    LV_PART_MAIN = 0x000000,
    LV_PART_SCROLLBAR = 0x010000,
    LV_PART_INDICATOR = 0x020000,
    LV_PART_KNOB = 0x030000,
    LV_PART_SELECTED = 0x040000,
    LV_PART_ITEMS = 0x050000,
    LV_PART_CURSOR = 0x060000,
    LV_PART_CUSTOM_FIRST = 0x080000,
    LV_PART_ANY = 0x0F0000,
};

typedef enum {
    LV_BORDER_SIDE_NONE = 0x00,
    LV_BORDER_SIDE_BOTTOM = 0x01,
    LV_BORDER_SIDE_TOP = 0x02,
    LV_BORDER_SIDE_LEFT = 0x04,
    LV_BORDER_SIDE_RIGHT = 0x08,
    LV_BORDER_SIDE_FULL = 0x0F,
    LV_BORDER_SIDE_INTERNAL = 0x10,
} lv_border_side_t;

typedef enum {
    LV_GRAD_DIR_NONE,
    LV_GRAD_DIR_VER,
    LV_GRAD_DIR_HOR,
} lv_grad_dir_t;

typedef enum {
    LV_TEXT_ALIGN_AUTO,
    LV_TEXT_ALIGN_LEFT,
    LV_TEXT_ALIGN_CENTER,
    LV_TEXT_ALIGN_RIGHT,
} lv_text_align_t;

typedef enum {
    LV_TEXT_DECOR_NONE = 0x00,
    LV_TEXT_DECOR_UNDERLINE = 0x01,
    LV_TEXT_DECOR_STRIKETHROUGH = 0x02,
} lv_text_decor_t;

typedef union {
    int32_t num;
    const void* ptr;
    lv_color_t color;
} lv_style_value_t;

/* The values live in a list owned by the style (created on the first set). */
typedef struct {
    void* values_and_props;
    uint32_t sentinel;
} lv_style_t;

typedef enum {
    LV_STYLE_RES_NOT_FOUND,
    LV_STYLE_RES_FOUND,
} lv_style_res_t;

#ifdef __cplusplus
}
#endif

#include "src/misc/lv_style_gen.h"

#ifdef __cplusplus
extern "C" {
#endif

void lv_style_init(lv_style_t* style);
/* Frees the values; the style may be initialised again. */
void lv_style_reset(lv_style_t* style);
void lv_style_set_prop(lv_style_t* style, lv_style_prop_t prop, lv_style_value_t value);
lv_style_res_t lv_style_get_prop(const lv_style_t* style, lv_style_prop_t prop, lv_style_value_t* value);
bool lv_style_remove_prop(lv_style_t* style, lv_style_prop_t prop);
bool lv_style_is_empty(const lv_style_t* style);
lv_style_value_t lv_style_prop_get_default(lv_style_prop_t prop);
bool lv_style_prop_has_flag_inherit(lv_style_prop_t prop);

void lv_style_set_pad_all(lv_style_t* style, int32_t value);
void lv_style_set_pad_hor(lv_style_t* style, int32_t value);
void lv_style_set_pad_ver(lv_style_t* style, int32_t value);
void lv_style_set_pad_gap(lv_style_t* style, int32_t value);
void lv_style_set_size(lv_style_t* style, int32_t width, int32_t height);

#ifdef __cplusplus
}
#endif
