#include "src/widgets/keyboard/lv_keyboard.h"

#include "src/font/lv_symbol_def.h"
#include "src/widgets/buttonmatrix/lv_buttonmatrix_private.h"

namespace {

constexpr int kModeCount = LV_KEYBOARD_MODE_USER_4 + 1;

/* Built-in maps of the text modes; the user modes have none until the application sets them. */
const char* const kLowerMap[] = {"1#",
                                 "q",
                                 "w",
                                 "e",
                                 "r",
                                 "t",
                                 "y",
                                 "u",
                                 "i",
                                 "o",
                                 "p",
                                 LV_SYMBOL_BACKSPACE,
                                 "\n",
                                 "ABC",
                                 "a",
                                 "s",
                                 "d",
                                 "f",
                                 "g",
                                 "h",
                                 "j",
                                 "k",
                                 "l",
                                 LV_SYMBOL_NEW_LINE,
                                 "\n",
                                 "_",
                                 "-",
                                 "z",
                                 "x",
                                 "c",
                                 "v",
                                 "b",
                                 "n",
                                 "m",
                                 ".",
                                 ",",
                                 ":",
                                 "\n",
                                 LV_SYMBOL_CLOSE,
                                 LV_SYMBOL_LEFT,
                                 " ",
                                 LV_SYMBOL_RIGHT,
                                 LV_SYMBOL_OK,
                                 ""};

const char* const kUpperMap[] = {"1#",
                                 "Q",
                                 "W",
                                 "E",
                                 "R",
                                 "T",
                                 "Y",
                                 "U",
                                 "I",
                                 "O",
                                 "P",
                                 LV_SYMBOL_BACKSPACE,
                                 "\n",
                                 "abc",
                                 "A",
                                 "S",
                                 "D",
                                 "F",
                                 "G",
                                 "H",
                                 "J",
                                 "K",
                                 "L",
                                 LV_SYMBOL_NEW_LINE,
                                 "\n",
                                 "_",
                                 "-",
                                 "Z",
                                 "X",
                                 "C",
                                 "V",
                                 "B",
                                 "N",
                                 "M",
                                 ".",
                                 ",",
                                 ":",
                                 "\n",
                                 LV_SYMBOL_CLOSE,
                                 LV_SYMBOL_LEFT,
                                 " ",
                                 LV_SYMBOL_RIGHT,
                                 LV_SYMBOL_OK,
                                 ""};

const char* const kSpecialMap[] = {"1",
                                   "2",
                                   "3",
                                   "4",
                                   "5",
                                   "6",
                                   "7",
                                   "8",
                                   "9",
                                   "0",
                                   LV_SYMBOL_BACKSPACE,
                                   "\n",
                                   "abc",
                                   "+",
                                   "&",
                                   "/",
                                   "*",
                                   "=",
                                   "%",
                                   "!",
                                   "?",
                                   "#",
                                   "<",
                                   ">",
                                   "\n",
                                   "\\",
                                   "@",
                                   "$",
                                   "(",
                                   ")",
                                   "{",
                                   "}",
                                   "[",
                                   "]",
                                   ";",
                                   "\"",
                                   "'",
                                   "\n",
                                   LV_SYMBOL_CLOSE,
                                   LV_SYMBOL_LEFT,
                                   " ",
                                   LV_SYMBOL_RIGHT,
                                   LV_SYMBOL_OK,
                                   ""};

const char* const kNumberMap[] = {
    "1", "2", "3", LV_SYMBOL_CLOSE,     "\n", "4",   "5", "6", LV_SYMBOL_OK,   "\n",
    "7", "8", "9", LV_SYMBOL_BACKSPACE, "\n", "+/-", "0", ".", LV_SYMBOL_LEFT, LV_SYMBOL_RIGHT,
    ""};

struct lv_keyboard_t : lv_buttonmatrix_t {
    lv_obj_t* ta = nullptr;
    lv_keyboard_mode_t mode = LV_KEYBOARD_MODE_TEXT_LOWER;
    bool popovers = false;
    const char* const* maps[kModeCount] = {kLowerMap, kUpperMap, kSpecialMap, kNumberMap};
    const lv_buttonmatrix_ctrl_t* ctrls[kModeCount] = {};
};

lv_keyboard_t* as_keyboard(const lv_obj_t* obj);
lv_obj_t* create_instance();
void show_mode(lv_obj_t* obj);
void constructor(lv_obj_t* obj);

} // namespace

const lv_obj_class_t lv_keyboard_class = {
    &lv_buttonmatrix_class,
    "lv_keyboard",
    LV_PCT(100),
    LV_PCT(50),
    create_instance,
    constructor,
    nullptr,
    nullptr,
    nullptr,
};

lv_obj_t* lv_keyboard_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_keyboard_class, parent);
}

void lv_keyboard_set_textarea(lv_obj_t* kb, lv_obj_t* ta)
{
    as_keyboard(kb)->ta = ta;
}

lv_obj_t* lv_keyboard_get_textarea(const lv_obj_t* kb)
{
    return as_keyboard(kb)->ta;
}

void lv_keyboard_set_mode(lv_obj_t* kb, lv_keyboard_mode_t mode)
{
    if (mode < 0 || mode >= kModeCount) return;
    as_keyboard(kb)->mode = mode;
    show_mode(kb);
}

lv_keyboard_mode_t lv_keyboard_get_mode(const lv_obj_t* kb)
{
    return as_keyboard(kb)->mode;
}

void lv_keyboard_set_popovers(lv_obj_t* kb, bool en)
{
    as_keyboard(kb)->popovers = en;
}

void lv_keyboard_set_map(lv_obj_t* kb, lv_keyboard_mode_t mode, const char* const map[],
                         const lv_buttonmatrix_ctrl_t ctrl_map[])
{
    if (mode < 0 || mode >= kModeCount) return;
    lv_keyboard_t* k = as_keyboard(kb);
    k->maps[mode] = map;
    k->ctrls[mode] = ctrl_map;
    if (k->mode == mode) show_mode(kb);
}

const char* const* lv_keyboard_get_map_array(const lv_obj_t* kb)
{
    return lv_buttonmatrix_get_map(kb);
}

uint32_t lv_keyboard_get_selected_button(const lv_obj_t* kb)
{
    return lv_buttonmatrix_get_selected_button(kb);
}

const char* lv_keyboard_get_button_text(const lv_obj_t* kb, uint32_t btn_id)
{
    return lv_buttonmatrix_get_button_text(kb, btn_id);
}

namespace {

lv_keyboard_t* as_keyboard(const lv_obj_t* obj)
{
    return static_cast<lv_keyboard_t*>(const_cast<lv_obj_t*>(obj));
}

lv_obj_t* create_instance()
{
    return new lv_keyboard_t();
}

void show_mode(lv_obj_t* obj)
{
    lv_keyboard_t* kb = as_keyboard(obj);
    lv_buttonmatrix_set_map(obj, kb->maps[kb->mode]);
    lv_buttonmatrix_set_ctrl_map(obj, kb->ctrls[kb->mode]);
}

void constructor(lv_obj_t* obj)
{
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_CLICK_FOCUSABLE);
    lv_obj_align(obj, LV_ALIGN_BOTTOM_MID, 0, 0);
    show_mode(obj);
}

} // namespace
