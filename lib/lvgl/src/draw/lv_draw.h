#pragma once
// Software drawing into the 32-bit work frame (0x00RRGGBB per pixel) that is converted to RGB565
// when a frame is flushed. Everything is clipped to the layer's clip area; edges of rounded
// rectangles, lines and glyphs are anti-aliased by coverage.
#include "lvgl.h"

typedef struct _lv_layer_t lv_layer_t;

struct _lv_layer_t {
    uint32_t* buf;
    int32_t w;
    int32_t h;
    lv_area_t clip;
};

typedef struct {
    int32_t radius;
    lv_color_t bg_color;
    lv_opa_t bg_opa;
    lv_color_t bg_grad_color;
    lv_grad_dir_t bg_grad_dir;
    int32_t bg_main_stop;
    int32_t bg_grad_stop;
    const void* bg_image_src;
    lv_opa_t bg_image_opa;
    lv_color_t bg_image_recolor;
    lv_opa_t bg_image_recolor_opa;
    bool bg_image_tiled;
    lv_color_t border_color;
    lv_opa_t border_opa;
    int32_t border_width;
    lv_border_side_t border_side;
    int32_t shadow_width;
    int32_t shadow_offset_x;
    int32_t shadow_offset_y;
    int32_t shadow_spread;
    lv_color_t shadow_color;
    lv_opa_t shadow_opa;
    /* Optional rounded area everything is cut to (a bar's indicator inside its rounded track). */
    bool has_mask;
    lv_area_t mask_area;
    int32_t mask_radius;
} lv_draw_rect_dsc_t;

typedef struct {
    const lv_font_t* font;
    lv_color_t color;
    lv_opa_t opa;
    int32_t letter_space;
    int32_t line_space;
    lv_text_align_t align;
    lv_text_decor_t decor;
    /* Wrap lines at the area's width (otherwise only at line feeds). */
    bool wrap;
} lv_draw_label_dsc_t;

typedef struct {
    lv_point_t p1;
    lv_point_t p2;
    lv_color_t color;
    int32_t width;
    lv_opa_t opa;
    bool round;
} lv_draw_line_dsc_t;

void lv_draw_rect_dsc_init(lv_draw_rect_dsc_t* dsc);
void lv_draw_label_dsc_init(lv_draw_label_dsc_t* dsc);
void lv_draw_line_dsc_init(lv_draw_line_dsc_t* dsc);

/* Shadow, background (colour, gradient, image) and border of a rectangle. */
void lv_draw_rect(lv_layer_t* layer, const lv_draw_rect_dsc_t* dsc, const lv_area_t* coords);
/* Only the border of the descriptor. */
void lv_draw_border(lv_layer_t* layer, const lv_draw_rect_dsc_t* dsc, const lv_area_t* coords);
/* Text laid out in the area (aligned per line, clipped to the layer). */
void lv_draw_label(lv_layer_t* layer, const lv_draw_label_dsc_t* dsc, const lv_area_t* coords, const char* text);
void lv_draw_line(lv_layer_t* layer, const lv_draw_line_dsc_t* dsc);

/* Fills a descriptor from an object's styles for a part (state: the object's current one). */
void lv_obj_init_draw_rect_dsc(lv_obj_t* obj, lv_part_t part, lv_draw_rect_dsc_t* dsc);
void lv_obj_init_draw_label_dsc(lv_obj_t* obj, lv_part_t part, lv_draw_label_dsc_t* dsc);
void lv_obj_init_draw_line_dsc(lv_obj_t* obj, lv_part_t part, lv_draw_line_dsc_t* dsc);

bool lv_area_intersect(lv_area_t* res, const lv_area_t* a1, const lv_area_t* a2);
