#pragma once
// Button matrix data, shared with the keyboard (C++ only).
#include <vector>

#include "src/core/lv_obj_private.h"

struct lv_buttonmatrix_t : _lv_obj_t {
    const char* const* map = nullptr;
    std::vector<const char*> texts; /* button texts in reading order */
    std::vector<uint32_t> ctrl; /* control flags per button */
    std::vector<uint32_t> row_of; /* row index per button */
    uint32_t row_count = 0;
    uint32_t btn_id_sel = LV_BUTTONMATRIX_BUTTON_NONE;
    bool one_check = false;
};
