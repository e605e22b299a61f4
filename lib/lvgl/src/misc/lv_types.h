#pragma once
// Basic types shared by every module of the widget layer: coordinates, areas, alignment,
// opacity, results. Coordinates are plain pixels; sizes may also carry the "special" tag that
// marks a percentage of the parent or LV_SIZE_CONTENT.
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _lv_obj_t lv_obj_t;
typedef struct _lv_obj_class_t lv_obj_class_t;
typedef struct _lv_display_t lv_display_t;
typedef struct _lv_theme_t lv_theme_t;
typedef struct _lv_font_t lv_font_t;

typedef uint8_t lv_opa_t;
typedef uint32_t lv_part_t;
typedef uint32_t lv_state_t;
typedef uint32_t lv_style_selector_t;

typedef enum {
    LV_RESULT_INVALID = 0,
    LV_RESULT_OK,
} lv_result_t;

typedef enum {
    LV_ANIM_OFF = 0,
    LV_ANIM_ON,
} lv_anim_enable_t;

/* Coordinate tagging: the two bits below the sign mark a special value. */
#define LV_COORD_TYPE_SHIFT (29U)
#define LV_COORD_TYPE_MASK (3 << LV_COORD_TYPE_SHIFT)
#define LV_COORD_TYPE(x) ((x)&LV_COORD_TYPE_MASK)
#define LV_COORD_PLAIN(x) ((x) & ~LV_COORD_TYPE_MASK)
#define LV_COORD_TYPE_PX (0 << LV_COORD_TYPE_SHIFT)
#define LV_COORD_TYPE_SPEC (1 << LV_COORD_TYPE_SHIFT)
#define LV_COORD_TYPE_PX_NEG (3 << LV_COORD_TYPE_SHIFT)
#define LV_COORD_IS_PX(x) (LV_COORD_TYPE(x) == LV_COORD_TYPE_PX || LV_COORD_TYPE(x) == LV_COORD_TYPE_PX_NEG)
#define LV_COORD_IS_SPEC(x) (LV_COORD_TYPE(x) == LV_COORD_TYPE_SPEC)
#define LV_COORD_SET_SPEC(x) ((x) | LV_COORD_TYPE_SPEC)
#define LV_COORD_MAX ((1 << LV_COORD_TYPE_SHIFT) - 1)
#define LV_COORD_MIN (-LV_COORD_MAX)
#define LV_SIZE_CONTENT LV_COORD_SET_SPEC(LV_COORD_MAX)
#define LV_PCT_STORED_MAX (LV_COORD_MAX - 1)
#define LV_PCT_POS_MAX (LV_PCT_STORED_MAX / 2)
#define LV_PCT(x)                                                                                                      \
    (LV_COORD_SET_SPEC(((x) < 0 ? (LV_PCT_POS_MAX - LV_MAX((x), -LV_PCT_POS_MAX)) : LV_MIN((x), LV_PCT_POS_MAX))))
#define LV_COORD_IS_PCT(x) ((LV_COORD_IS_SPEC(x) && LV_COORD_PLAIN(x) <= LV_PCT_STORED_MAX))
#define LV_COORD_GET_PCT(x)                                                                                            \
    (LV_COORD_PLAIN(x) > LV_PCT_POS_MAX ? LV_PCT_POS_MAX - LV_COORD_PLAIN(x) : LV_COORD_PLAIN(x))
#define LV_RADIUS_CIRCLE 0x7FFF

#define LV_MIN(a, b) ((a) < (b) ? (a) : (b))
#define LV_MAX(a, b) ((a) > (b) ? (a) : (b))
#define LV_ABS(x) ((x) > 0 ? (x) : (-(x)))
#define LV_CLAMP(min, val, max) (LV_MAX(min, (LV_MIN(val, max))))
#define LV_UNUSED(x) ((void)x)

/* Dots per inch the theme scales its paddings and radii with, as the default configuration. */
#define LV_DPI_DEF 130
#define LV_DPX_CALC(dpi, n) ((n) == 0 ? 0 : LV_MAX((((dpi) * (n) + 80) / 160), 1))
#define LV_DPX(n) LV_DPX_CALC(LV_DPI_DEF, n)

typedef struct {
    int32_t x;
    int32_t y;
} lv_point_t;

typedef struct {
    int32_t x;
    int32_t y;
} lv_point_precise_t;

/* Corners are inclusive: an area from x1 to x2 is x2 - x1 + 1 pixels wide. */
typedef struct {
    int32_t x1;
    int32_t y1;
    int32_t x2;
    int32_t y2;
} lv_area_t;

typedef enum {
    LV_ALIGN_DEFAULT = 0,
    LV_ALIGN_TOP_LEFT,
    LV_ALIGN_TOP_MID,
    LV_ALIGN_TOP_RIGHT,
    LV_ALIGN_BOTTOM_LEFT,
    LV_ALIGN_BOTTOM_MID,
    LV_ALIGN_BOTTOM_RIGHT,
    LV_ALIGN_LEFT_MID,
    LV_ALIGN_RIGHT_MID,
    LV_ALIGN_CENTER,
} lv_align_t;

typedef enum {
    LV_DIR_NONE = 0x00,
    LV_DIR_LEFT = (1 << 0),
    LV_DIR_RIGHT = (1 << 1),
    LV_DIR_TOP = (1 << 2),
    LV_DIR_BOTTOM = (1 << 3),
    LV_DIR_HOR = LV_DIR_LEFT | LV_DIR_RIGHT,
    LV_DIR_VER = LV_DIR_TOP | LV_DIR_BOTTOM,
    LV_DIR_ALL = LV_DIR_HOR | LV_DIR_VER,
} lv_dir_t;

enum {
    LV_OPA_TRANSP = 0,
    LV_OPA_0 = 0,
    LV_OPA_10 = 25,
    LV_OPA_20 = 51,
    LV_OPA_30 = 76,
    LV_OPA_40 = 102,
    LV_OPA_50 = 127,
    LV_OPA_60 = 153,
    LV_OPA_70 = 178,
    LV_OPA_80 = 204,
    LV_OPA_90 = 229,
    LV_OPA_100 = 255,
    LV_OPA_COVER = 255,
};
#define LV_OPA_MIN 2
#define LV_OPA_MAX 253

static inline int32_t lv_area_get_width(const lv_area_t* area)
{
    return area->x2 - area->x1 + 1;
}

static inline int32_t lv_area_get_height(const lv_area_t* area)
{
    return area->y2 - area->y1 + 1;
}

static inline void lv_area_set(lv_area_t* area, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    area->x1 = x1;
    area->y1 = y1;
    area->x2 = x2;
    area->y2 = y2;
}

static inline int32_t lv_pct(int32_t x)
{
    return LV_PCT(x);
}

#ifdef __cplusplus
}
#endif
