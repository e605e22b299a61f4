#pragma once
// Button: a base object with the theme's button look; its size follows its content by default.
#include "src/core/lv_obj.h"

#ifdef __cplusplus
extern "C" {
#endif

extern const lv_obj_class_t lv_button_class;

lv_obj_t* lv_button_create(lv_obj_t* parent);

#ifdef __cplusplus
}
#endif
