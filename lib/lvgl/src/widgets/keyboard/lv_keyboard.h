#pragma once
// Keyboard: a button matrix with one map per mode. The text modes have built-in maps; the user
// modes take the maps given with lv_keyboard_set_map. Keys are pressed by the application (there
// is no touch input): it reads the selected key and acts on it itself.
#include "src/widgets/buttonmatrix/lv_buttonmatrix.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LV_KEYBOARD_MODE_TEXT_LOWER,
    LV_KEYBOARD_MODE_TEXT_UPPER,
    LV_KEYBOARD_MODE_SPECIAL,
    LV_KEYBOARD_MODE_NUMBER,
    LV_KEYBOARD_MODE_USER_1,
    LV_KEYBOARD_MODE_USER_2,
    LV_KEYBOARD_MODE_USER_3,
    LV_KEYBOARD_MODE_USER_4,
} lv_keyboard_mode_t;

extern const lv_obj_class_t lv_keyboard_class;

lv_obj_t* lv_keyboard_create(lv_obj_t* parent);
void lv_keyboard_set_textarea(lv_obj_t* kb, lv_obj_t* ta);
lv_obj_t* lv_keyboard_get_textarea(const lv_obj_t* kb);
/* Shows the map of a mode and resets the controls to that map's. */
void lv_keyboard_set_mode(lv_obj_t* kb, lv_keyboard_mode_t mode);
lv_keyboard_mode_t lv_keyboard_get_mode(const lv_obj_t* kb);
void lv_keyboard_set_popovers(lv_obj_t* kb, bool en);
/* The map and controls are not copied; they must live as long as the keyboard. */
void lv_keyboard_set_map(lv_obj_t* kb, lv_keyboard_mode_t mode, const char* const map[],
                         const lv_buttonmatrix_ctrl_t ctrl_map[]);
const char* const* lv_keyboard_get_map_array(const lv_obj_t* kb);
uint32_t lv_keyboard_get_selected_button(const lv_obj_t* kb);
const char* lv_keyboard_get_button_text(const lv_obj_t* kb, uint32_t btn_id);

#ifdef __cplusplus
}
#endif
