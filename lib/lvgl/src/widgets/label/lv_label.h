#pragma once
// Label: a text in an object. With a fixed width the text wraps at the width; the long mode says
// what happens when it does not fit the height (wrap on, dots, clip). With LV_SIZE_CONTENT the
// label takes the size of its text.
#include "src/core/lv_obj.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LV_LABEL_LONG_MODE_WRAP,
    LV_LABEL_LONG_MODE_DOTS,
    LV_LABEL_LONG_MODE_SCROLL,
    LV_LABEL_LONG_MODE_SCROLL_CIRCULAR,
    LV_LABEL_LONG_MODE_CLIP,
} lv_label_long_mode_t;

/* The names before the long modes were renamed. */
#define LV_LABEL_LONG_WRAP LV_LABEL_LONG_MODE_WRAP
#define LV_LABEL_LONG_DOT LV_LABEL_LONG_MODE_DOTS
#define LV_LABEL_LONG_SCROLL LV_LABEL_LONG_MODE_SCROLL
#define LV_LABEL_LONG_SCROLL_CIRCULAR LV_LABEL_LONG_MODE_SCROLL_CIRCULAR
#define LV_LABEL_LONG_CLIP LV_LABEL_LONG_MODE_CLIP

extern const lv_obj_class_t lv_label_class;

lv_obj_t* lv_label_create(lv_obj_t* parent);
/* Copies the text (null: keep the current text). */
void lv_label_set_text(lv_obj_t* obj, const char* text);
void lv_label_set_text_fmt(lv_obj_t* obj, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
/* Uses the text without copying it; it must live as long as the label. */
void lv_label_set_text_static(lv_obj_t* obj, const char* text);
void lv_label_set_long_mode(lv_obj_t* obj, lv_label_long_mode_t long_mode);
const char* lv_label_get_text(const lv_obj_t* obj);
lv_label_long_mode_t lv_label_get_long_mode(const lv_obj_t* obj);
/* The text as drawn: cut and ended with "..." when the long mode is dots and it does not fit. */
const char* lv_label_get_text_drawn(lv_obj_t* obj);

#ifdef __cplusplus
}
#endif
