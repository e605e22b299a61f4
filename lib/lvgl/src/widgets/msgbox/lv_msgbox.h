#pragma once
// Message box: a box with an optional title, a content area where texts are stacked, and a
// footer row of buttons of equal width. With a null parent it is created on the active screen.
#include "src/core/lv_obj.h"

#ifdef __cplusplus
extern "C" {
#endif

extern const lv_obj_class_t lv_msgbox_class;
extern const lv_obj_class_t lv_msgbox_header_class;
extern const lv_obj_class_t lv_msgbox_content_class;
extern const lv_obj_class_t lv_msgbox_footer_class;

lv_obj_t* lv_msgbox_create(lv_obj_t* parent);
lv_obj_t* lv_msgbox_add_title(lv_obj_t* obj, const char* title);
/* Adds a label with the text to the content area; returns it. */
lv_obj_t* lv_msgbox_add_text(lv_obj_t* obj, const char* text);
/* Adds a button with a label to the footer; returns the button. */
lv_obj_t* lv_msgbox_add_footer_button(lv_obj_t* obj, const char* text);
lv_obj_t* lv_msgbox_get_header(lv_obj_t* obj);
lv_obj_t* lv_msgbox_get_footer(lv_obj_t* obj);
lv_obj_t* lv_msgbox_get_content(lv_obj_t* obj);
lv_obj_t* lv_msgbox_get_title(lv_obj_t* obj);
void lv_msgbox_close(lv_obj_t* mbox);

#ifdef __cplusplus
}
#endif
