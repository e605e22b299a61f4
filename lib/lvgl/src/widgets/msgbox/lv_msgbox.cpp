#include "src/widgets/msgbox/lv_msgbox.h"

#include <vector>

#include "src/core/lv_obj_private.h"
#include "src/display/lv_display.h"
#include "src/widgets/button/lv_button.h"
#include "src/widgets/label/lv_label.h"

namespace {

struct lv_msgbox_t : _lv_obj_t {
    lv_obj_t* header = nullptr;
    lv_obj_t* title = nullptr;
    lv_obj_t* content = nullptr;
    lv_obj_t* footer = nullptr;
};

lv_msgbox_t* as_msgbox(const lv_obj_t* obj);
lv_obj_t* create_instance();
int32_t child_height(const lv_obj_t* child, int32_t width);
void stack_layout(lv_obj_t* obj);
void footer_layout(lv_obj_t* obj);
int32_t footer_height(const lv_obj_t* footer, int32_t width);
void msgbox_layout(lv_obj_t* obj);
void section_constructor(lv_obj_t* obj);
lv_obj_t* add_label(lv_obj_t* parent, const char* text);

} // namespace

const lv_obj_class_t lv_msgbox_class = {
    &lv_obj_class, "lv_msgbox", LV_DPI_DEF * 2, LV_SIZE_CONTENT, create_instance,
    nullptr,       nullptr,     nullptr,        msgbox_layout,
};

const lv_obj_class_t lv_msgbox_header_class = {
    &lv_obj_class, "lv_msgbox_header", LV_PCT(100), LV_SIZE_CONTENT, nullptr, section_constructor, nullptr,
    nullptr,       stack_layout,
};

const lv_obj_class_t lv_msgbox_content_class = {
    &lv_obj_class, "lv_msgbox_content", LV_PCT(100), LV_SIZE_CONTENT, nullptr, section_constructor, nullptr,
    nullptr,       stack_layout,
};

const lv_obj_class_t lv_msgbox_footer_class = {
    &lv_obj_class, "lv_msgbox_footer", LV_PCT(100), LV_SIZE_CONTENT, nullptr, section_constructor, nullptr,
    nullptr,       footer_layout,
};

lv_obj_t* lv_msgbox_create(lv_obj_t* parent)
{
    if (parent == nullptr) parent = lv_screen_active();
    lv_obj_t* obj = lv_obj_class_create_obj(&lv_msgbox_class, parent);
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLLABLE);
    as_msgbox(obj)->content = lv_obj_class_create_obj(&lv_msgbox_content_class, obj);
    lv_obj_center(obj);
    return obj;
}

lv_obj_t* lv_msgbox_add_title(lv_obj_t* obj, const char* title)
{
    lv_msgbox_t* m = as_msgbox(obj);
    if (m->header == nullptr) {
        m->header = lv_obj_class_create_obj(&lv_msgbox_header_class, obj);
        /* The header comes first in the tree as on screen. */
        auto& kids = obj->children;
        kids.pop_back();
        kids.insert(kids.begin(), m->header);
    }
    if (m->title == nullptr) m->title = add_label(m->header, title);
    else lv_label_set_text(m->title, title);
    return m->title;
}

lv_obj_t* lv_msgbox_add_text(lv_obj_t* obj, const char* text)
{
    return add_label(as_msgbox(obj)->content, text);
}

lv_obj_t* lv_msgbox_add_footer_button(lv_obj_t* obj, const char* text)
{
    lv_msgbox_t* m = as_msgbox(obj);
    if (m->footer == nullptr) m->footer = lv_obj_class_create_obj(&lv_msgbox_footer_class, obj);
    lv_obj_t* button = lv_button_create(m->footer);
    button->placed_by_parent = true;
    lv_obj_t* label = lv_label_create(button);
    lv_label_set_text(label, text);
    lv_obj_center(label);
    return button;
}

lv_obj_t* lv_msgbox_get_header(lv_obj_t* obj)
{
    return as_msgbox(obj)->header;
}

lv_obj_t* lv_msgbox_get_footer(lv_obj_t* obj)
{
    return as_msgbox(obj)->footer;
}

lv_obj_t* lv_msgbox_get_content(lv_obj_t* obj)
{
    return as_msgbox(obj)->content;
}

lv_obj_t* lv_msgbox_get_title(lv_obj_t* obj)
{
    return as_msgbox(obj)->title;
}

void lv_msgbox_close(lv_obj_t* mbox)
{
    lv_obj_delete(mbox);
}

namespace {

lv_msgbox_t* as_msgbox(const lv_obj_t* obj)
{
    return static_cast<lv_msgbox_t*>(const_cast<lv_obj_t*>(obj));
}

lv_obj_t* create_instance()
{
    return new lv_msgbox_t();
}

int32_t child_height(const lv_obj_t* child, int32_t width)
{
    int32_t h = lv_obj_get_style_height(child, LV_PART_MAIN);
    if (h == LV_SIZE_CONTENT || LV_COORD_IS_SPEC(h)) return lv_obj_content_height_for(child, width);
    return h;
}

/* Stacks the children of a section from the top, each as wide as the section. */
void stack_layout(lv_obj_t* obj)
{
    int32_t w = lv_obj_get_content_width(obj);
    int32_t gap = lv_obj_get_style_pad_row(obj, LV_PART_MAIN);
    int32_t y = 0;
    for (lv_obj_t* child : obj->children) {
        int32_t h = child_height(child, w);
        lv_obj_layout_place(child, 0, y, w, h);
        y += h + gap;
    }
}

/* Buttons of equal width in one row, as tall as the footer. */
void footer_layout(lv_obj_t* obj)
{
    int32_t n = static_cast<int32_t>(obj->children.size());
    if (n == 0) return;
    int32_t w = lv_obj_get_content_width(obj);
    int32_t h = lv_obj_get_content_height(obj);
    int32_t gap = lv_obj_get_style_pad_column(obj, LV_PART_MAIN);
    int32_t avail = w - (n - 1) * gap;
    for (int32_t i = 0; i < n; i++) {
        int32_t x1 = avail * i / n + i * gap;
        int32_t x2 = avail * (i + 1) / n + i * gap;
        lv_obj_layout_place(obj->children[i], x1, 0, x2 - x1, h);
    }
}

int32_t footer_height(const lv_obj_t* footer, int32_t width)
{
    int32_t h = 0;
    for (const lv_obj_t* button : footer->children) h = LV_MAX(h, lv_obj_content_height_for(button, width));
    return h + lv_obj_get_style_space_top(footer, LV_PART_MAIN) + lv_obj_get_style_space_bottom(footer, LV_PART_MAIN);
}

/* Header at the top, footer at the bottom, the content in between. */
void msgbox_layout(lv_obj_t* obj)
{
    lv_msgbox_t* m = as_msgbox(obj);
    int32_t w = lv_obj_get_content_width(obj);
    int32_t h = lv_obj_get_content_height(obj);
    int32_t gap = lv_obj_get_style_pad_row(obj, LV_PART_MAIN);
    int32_t top = 0;
    int32_t bottom = h;
    if (m->header) {
        int32_t hh = lv_obj_content_height_for(m->header, w);
        lv_obj_layout_place(m->header, 0, 0, w, hh);
        top = hh + gap;
    }
    if (m->footer) {
        int32_t fh = footer_height(m->footer, w);
        lv_obj_layout_place(m->footer, 0, h - fh, w, fh);
        bottom = h - fh - gap;
    }
    lv_obj_layout_place(m->content, 0, top, w, LV_MAX(bottom - top, 0));
}

void section_constructor(lv_obj_t* obj)
{
    obj->placed_by_parent = true;
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLLABLE);
}

lv_obj_t* add_label(lv_obj_t* parent, const char* text)
{
    lv_obj_t* label = lv_label_create(parent);
    lv_label_set_text(label, text);
    lv_obj_set_width(label, LV_PCT(100));
    label->placed_by_parent = true;
    return label;
}

} // namespace
