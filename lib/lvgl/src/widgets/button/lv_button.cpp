#include "src/widgets/button/lv_button.h"

#include "src/core/lv_obj_private.h"

namespace {

void constructor(lv_obj_t* obj);

} // namespace

const lv_obj_class_t lv_button_class = {
    &lv_obj_class, "lv_button", LV_SIZE_CONTENT, LV_SIZE_CONTENT, nullptr, constructor, nullptr, nullptr, nullptr,
};

lv_obj_t* lv_button_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_button_class, parent);
}

namespace {

void constructor(lv_obj_t* obj)
{
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLLABLE);
    lv_obj_add_flag(obj, LV_OBJ_FLAG_SCROLL_ON_FOCUS);
}

} // namespace
