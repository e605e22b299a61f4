#pragma once
// Base object: every widget is an object in a tree below a screen. An object has a class, a
// parent, children, flags, states and styles; its position and size are style properties that
// the layout turns into absolute coordinates when the display is refreshed.
// All calls are made from one thread at a time (the layer has no lock).
#include "src/misc/lv_style.h"
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LV_OBJ_FLAG_HIDDEN = (1L << 0),
    LV_OBJ_FLAG_CLICKABLE = (1L << 1),
    LV_OBJ_FLAG_CLICK_FOCUSABLE = (1L << 2),
    LV_OBJ_FLAG_CHECKABLE = (1L << 3),
    LV_OBJ_FLAG_SCROLLABLE = (1L << 4),
    LV_OBJ_FLAG_SCROLL_ELASTIC = (1L << 5),
    LV_OBJ_FLAG_SCROLL_MOMENTUM = (1L << 6),
    LV_OBJ_FLAG_SCROLL_ONE = (1L << 7),
    LV_OBJ_FLAG_SCROLL_CHAIN_HOR = (1L << 8),
    LV_OBJ_FLAG_SCROLL_CHAIN_VER = (1L << 9),
    LV_OBJ_FLAG_SCROLL_CHAIN = (LV_OBJ_FLAG_SCROLL_CHAIN_HOR | LV_OBJ_FLAG_SCROLL_CHAIN_VER),
    LV_OBJ_FLAG_SCROLL_ON_FOCUS = (1L << 10),
    LV_OBJ_FLAG_SCROLL_WITH_ARROW = (1L << 11),
    LV_OBJ_FLAG_SNAPPABLE = (1L << 12),
    LV_OBJ_FLAG_PRESS_LOCK = (1L << 13),
    LV_OBJ_FLAG_EVENT_BUBBLE = (1L << 14),
    LV_OBJ_FLAG_GESTURE_BUBBLE = (1L << 15),
    LV_OBJ_FLAG_ADV_HITTEST = (1L << 16),
    LV_OBJ_FLAG_IGNORE_LAYOUT = (1L << 17),
    LV_OBJ_FLAG_FLOATING = (1L << 18),
    LV_OBJ_FLAG_SEND_DRAW_TASK_EVENTS = (1L << 19),
    LV_OBJ_FLAG_OVERFLOW_VISIBLE = (1L << 20),
} lv_obj_flag_t;

typedef enum {
    LV_OBJ_TREE_WALK_NEXT,
    LV_OBJ_TREE_WALK_SKIP_CHILDREN,
    LV_OBJ_TREE_WALK_END,
} lv_obj_tree_walk_res_t;

typedef lv_obj_tree_walk_res_t (*lv_obj_tree_walk_cb_t)(lv_obj_t* obj, void* user_data);

extern const lv_obj_class_t lv_obj_class;

/* Creates a base object (a plain container) on `parent`. */
lv_obj_t* lv_obj_create(lv_obj_t* parent);
/* Deletes the object and all its children. */
void lv_obj_delete(lv_obj_t* obj);
/* Deletes all children of the object. */
void lv_obj_clean(lv_obj_t* obj);

void lv_obj_add_flag(lv_obj_t* obj, lv_obj_flag_t f);
void lv_obj_remove_flag(lv_obj_t* obj, lv_obj_flag_t f);
void lv_obj_update_flag(lv_obj_t* obj, lv_obj_flag_t f, bool v);
bool lv_obj_has_flag(const lv_obj_t* obj, lv_obj_flag_t f);
bool lv_obj_has_flag_any(const lv_obj_t* obj, lv_obj_flag_t f);

void lv_obj_add_state(lv_obj_t* obj, lv_state_t state);
void lv_obj_remove_state(lv_obj_t* obj, lv_state_t state);
void lv_obj_set_state(lv_obj_t* obj, lv_state_t state, bool v);
lv_state_t lv_obj_get_state(const lv_obj_t* obj);
bool lv_obj_has_state(const lv_obj_t* obj, lv_state_t state);

void lv_obj_set_user_data(lv_obj_t* obj, void* user_data);
void* lv_obj_get_user_data(lv_obj_t* obj);

/* Tree. A negative index counts from the last child (-1 is the last). */
lv_obj_t* lv_obj_get_parent(const lv_obj_t* obj);
lv_obj_t* lv_obj_get_child(const lv_obj_t* obj, int32_t idx);
uint32_t lv_obj_get_child_count(const lv_obj_t* obj);
int32_t lv_obj_get_index(const lv_obj_t* obj);
lv_obj_t* lv_obj_get_screen(const lv_obj_t* obj);
lv_display_t* lv_obj_get_display(const lv_obj_t* obj);
void lv_obj_tree_walk(lv_obj_t* start_obj, lv_obj_tree_walk_cb_t cb, void* user_data);

const lv_obj_class_t* lv_obj_get_class(const lv_obj_t* obj);
/* True when the object's class is exactly `class_p`. */
bool lv_obj_check_type(const lv_obj_t* obj, const lv_obj_class_t* class_p);
/* True when the object's class is `class_p` or derives from it. */
bool lv_obj_has_class(const lv_obj_t* obj, const lv_obj_class_t* class_p);
bool lv_obj_is_valid(const lv_obj_t* obj);

/* Marks the object's display for redrawing at the next refresh. */
void lv_obj_invalidate(const lv_obj_t* obj);

#ifdef __cplusplus
}
#endif

#include "src/core/lv_obj_pos.h"
#include "src/core/lv_obj_scroll.h"
#include "src/core/lv_obj_style.h"
