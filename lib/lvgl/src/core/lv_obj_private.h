#pragma once
// Internal layout of objects and classes, shared by the core and the widgets (C++ only).
#include <vector>

#include "lvgl.h"

typedef struct _lv_layer_t lv_layer_t;

struct lv_obj_style_entry_t {
    const lv_style_t* style;
    lv_style_selector_t selector;
    bool is_local;
};

struct _lv_obj_class_t {
    const lv_obj_class_t* base_class;
    const char* name;
    /* Size given at creation (0: take the base class's). */
    int32_t width_def;
    int32_t height_def;
    lv_obj_t* (*create_instance)(void);
    /* Runs after the base class's constructor, before the theme is applied. */
    void (*constructor_cb)(lv_obj_t* obj);
    /* Widget content, drawn above the background and below the children. */
    void (*draw_main_cb)(lv_obj_t* obj, lv_layer_t* layer);
    /* Size of the object's own content (text, points), for LV_SIZE_CONTENT; content_w is the
     * width of the content area when the width is fixed, -1 while the width is being found. */
    void (*self_size_cb)(lv_obj_t* obj, int32_t content_w, lv_point_t* size);
    /* Places internal children once the object's own coordinates are known. */
    void (*layout_cb)(lv_obj_t* obj);
};

struct _lv_obj_t {
    virtual ~_lv_obj_t();

    const lv_obj_class_t* class_p = nullptr;
    lv_obj_t* parent = nullptr;
    lv_display_t* disp = nullptr;
    std::vector<lv_obj_t*> children;
    std::vector<lv_obj_style_entry_t> styles;
    lv_area_t coords = {0, 0, -1, -1};
    /* Position relative to the parent's content area after alignment. */
    int32_t x_rel = 0;
    int32_t y_rel = 0;
    int32_t scroll_x = 0;
    int32_t scroll_y = 0;
    uint32_t flags = 0;
    lv_state_t state = LV_STATE_DEFAULT;
    lv_scrollbar_mode_t scrollbar_mode = LV_SCROLLBAR_MODE_AUTO;
    lv_dir_t scroll_dir = LV_DIR_ALL;
    void* user_data = nullptr;
    /* Sized and placed by the parent's layout_cb instead of by its own styles. */
    bool placed_by_parent = false;
};

/* Creates an object of a class: allocation, constructors from the base class down, default size,
 * then the display's theme. */
lv_obj_t* lv_obj_class_create_obj(const lv_obj_class_t* class_p, lv_obj_t* parent);
/* First non-null callback up the class chain. */
template <typename F>
F lv_obj_class_find_cb(const lv_obj_class_t* class_p, F lv_obj_class_t::*member)
{
    for (const lv_obj_class_t* c = class_p; c; c = c->base_class) {
        if (c->*member) return c->*member;
    }
    return nullptr;
}

/* Applies the display's theme to a newly created object. */
void lv_theme_apply(lv_obj_t* obj);

/* Gives a child placed by its parent its area (relative to the parent's content area) and lays
 * out its own children. */
void lv_obj_layout_place(lv_obj_t* child, int32_t x, int32_t y, int32_t w, int32_t h);
/* Height an object needs for its content at a given width (for LV_SIZE_CONTENT). */
int32_t lv_obj_content_height_for(const lv_obj_t* obj, int32_t width);
/* Computes sizes and positions of a screen's tree. */
void lv_obj_layout_screen(lv_obj_t* screen);
/* Draws an object and its children. */
void lv_obj_draw_tree(lv_obj_t* obj, lv_layer_t* layer);
/* Marks the display of the object for refreshing. */
void lv_obj_mark_dirty(const lv_obj_t* obj);
