#include "src/core/lv_obj_private.h"

#include <algorithm>

#include "src/display/lv_display_private.h"

namespace {

constexpr uint32_t kDefaultFlags =
    LV_OBJ_FLAG_CLICKABLE | LV_OBJ_FLAG_CLICK_FOCUSABLE | LV_OBJ_FLAG_SCROLLABLE | LV_OBJ_FLAG_SCROLL_ELASTIC |
    LV_OBJ_FLAG_SCROLL_MOMENTUM | LV_OBJ_FLAG_SCROLL_WITH_ARROW | LV_OBJ_FLAG_SCROLL_CHAIN |
    LV_OBJ_FLAG_SCROLL_ON_FOCUS | LV_OBJ_FLAG_SNAPPABLE | LV_OBJ_FLAG_PRESS_LOCK | LV_OBJ_FLAG_GESTURE_BUBBLE;

lv_obj_t* create_instance();
void delete_children(lv_obj_t* obj);
bool contains(const lv_obj_t* root, const lv_obj_t* obj);
lv_obj_tree_walk_res_t walk(lv_obj_t* obj, lv_obj_tree_walk_cb_t cb, void* user_data);

} // namespace

const lv_obj_class_t lv_obj_class = {
    nullptr, "lv_obj", LV_DPI_DEF, LV_DPI_DEF, create_instance, nullptr, nullptr, nullptr, nullptr,
};

lv_obj_t* lv_obj_class_create_obj(const lv_obj_class_t* class_p, lv_obj_t* parent)
{
    auto create = lv_obj_class_find_cb(class_p, &lv_obj_class_t::create_instance);
    lv_obj_t* obj = create();
    obj->class_p = class_p;
    obj->parent = parent;
    obj->flags = kDefaultFlags;
    if (parent) {
        parent->children.push_back(obj);
        obj->disp = parent->disp;
    } else {
        obj->disp = lv_display_get_default();
    }

    int32_t w = 0, h = 0;
    for (const lv_obj_class_t* c = class_p; c && (w == 0 || h == 0); c = c->base_class) {
        if (w == 0) w = c->width_def;
        if (h == 0) h = c->height_def;
    }
    if (parent == nullptr && obj->disp) {
        w = lv_display_get_horizontal_resolution(obj->disp);
        h = lv_display_get_vertical_resolution(obj->disp);
    }
    lv_obj_set_size(obj, w, h);

    std::vector<const lv_obj_class_t*> chain;
    for (const lv_obj_class_t* c = class_p; c; c = c->base_class) chain.push_back(c);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if ((*it)->constructor_cb) (*it)->constructor_cb(obj);
    }
    lv_theme_apply(obj);
    lv_obj_mark_dirty(obj);
    return obj;
}

lv_obj_t* lv_obj_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_obj_class, parent);
}

void lv_obj_delete(lv_obj_t* obj)
{
    if (obj == nullptr) return;
    lv_obj_mark_dirty(obj);
    delete_children(obj);
    if (obj->parent) {
        auto& siblings = obj->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), obj), siblings.end());
    } else if (obj->disp) {
        lv_display_forget_screen(obj->disp, obj);
    }
    delete obj;
}

void lv_obj_clean(lv_obj_t* obj)
{
    if (obj == nullptr) return;
    lv_obj_mark_dirty(obj);
    delete_children(obj);
    obj->scroll_x = 0;
    obj->scroll_y = 0;
}

void lv_obj_add_flag(lv_obj_t* obj, lv_obj_flag_t f)
{
    obj->flags |= f;
    lv_obj_mark_dirty(obj);
}

void lv_obj_remove_flag(lv_obj_t* obj, lv_obj_flag_t f)
{
    obj->flags &= ~static_cast<uint32_t>(f);
    lv_obj_mark_dirty(obj);
}

void lv_obj_update_flag(lv_obj_t* obj, lv_obj_flag_t f, bool v)
{
    if (v) lv_obj_add_flag(obj, f);
    else lv_obj_remove_flag(obj, f);
}

bool lv_obj_has_flag(const lv_obj_t* obj, lv_obj_flag_t f)
{
    return (obj->flags & f) == static_cast<uint32_t>(f);
}

bool lv_obj_has_flag_any(const lv_obj_t* obj, lv_obj_flag_t f)
{
    return (obj->flags & f) != 0;
}

void lv_obj_add_state(lv_obj_t* obj, lv_state_t state)
{
    obj->state |= state;
    lv_obj_mark_dirty(obj);
}

void lv_obj_remove_state(lv_obj_t* obj, lv_state_t state)
{
    obj->state &= ~state;
    lv_obj_mark_dirty(obj);
}

void lv_obj_set_state(lv_obj_t* obj, lv_state_t state, bool v)
{
    if (v) lv_obj_add_state(obj, state);
    else lv_obj_remove_state(obj, state);
}

lv_state_t lv_obj_get_state(const lv_obj_t* obj)
{
    return obj->state;
}

bool lv_obj_has_state(const lv_obj_t* obj, lv_state_t state)
{
    return (obj->state & state) != 0;
}

void lv_obj_set_user_data(lv_obj_t* obj, void* user_data)
{
    obj->user_data = user_data;
}

void* lv_obj_get_user_data(lv_obj_t* obj)
{
    return obj->user_data;
}

lv_obj_t* lv_obj_get_parent(const lv_obj_t* obj)
{
    return obj ? obj->parent : nullptr;
}

lv_obj_t* lv_obj_get_child(const lv_obj_t* obj, int32_t idx)
{
    if (obj == nullptr) return nullptr;
    int32_t n = static_cast<int32_t>(obj->children.size());
    if (idx < 0) idx += n;
    if (idx < 0 || idx >= n) return nullptr;
    return obj->children[idx];
}

uint32_t lv_obj_get_child_count(const lv_obj_t* obj)
{
    return obj ? static_cast<uint32_t>(obj->children.size()) : 0;
}

int32_t lv_obj_get_index(const lv_obj_t* obj)
{
    if (obj == nullptr || obj->parent == nullptr) return -1;
    const auto& siblings = obj->parent->children;
    auto it = std::find(siblings.begin(), siblings.end(), obj);
    return it == siblings.end() ? -1 : static_cast<int32_t>(it - siblings.begin());
}

lv_obj_t* lv_obj_get_screen(const lv_obj_t* obj)
{
    const lv_obj_t* o = obj;
    while (o && o->parent) o = o->parent;
    return const_cast<lv_obj_t*>(o);
}

lv_display_t* lv_obj_get_display(const lv_obj_t* obj)
{
    return obj ? obj->disp : nullptr;
}

void lv_obj_tree_walk(lv_obj_t* start_obj, lv_obj_tree_walk_cb_t cb, void* user_data)
{
    if (start_obj) {
        walk(start_obj, cb, user_data);
        return;
    }
    lv_display_t* disp = lv_display_get_default();
    if (disp && lv_display_get_screen_active(disp)) walk(lv_display_get_screen_active(disp), cb, user_data);
}

const lv_obj_class_t* lv_obj_get_class(const lv_obj_t* obj)
{
    return obj->class_p;
}

bool lv_obj_check_type(const lv_obj_t* obj, const lv_obj_class_t* class_p)
{
    return obj && obj->class_p == class_p;
}

bool lv_obj_has_class(const lv_obj_t* obj, const lv_obj_class_t* class_p)
{
    for (const lv_obj_class_t* c = obj ? obj->class_p : nullptr; c; c = c->base_class) {
        if (c == class_p) return true;
    }
    return false;
}

bool lv_obj_is_valid(const lv_obj_t* obj)
{
    if (obj == nullptr) return false;
    for (lv_display_t* disp = lv_display_get_next(nullptr); disp; disp = lv_display_get_next(disp)) {
        for (lv_obj_t* screen : lv_display_screens(disp)) {
            if (contains(screen, obj)) return true;
        }
    }
    return false;
}

void lv_obj_invalidate(const lv_obj_t* obj)
{
    lv_obj_mark_dirty(obj);
}

void lv_obj_mark_dirty(const lv_obj_t* obj)
{
    if (obj && obj->disp) lv_display_mark_dirty(obj->disp);
}

namespace {

lv_obj_t* create_instance()
{
    return new _lv_obj_t();
}

void delete_children(lv_obj_t* obj)
{
    for (lv_obj_t* child : obj->children) {
        delete_children(child);
        delete child;
    }
    obj->children.clear();
}

bool contains(const lv_obj_t* root, const lv_obj_t* obj)
{
    if (root == obj) return true;
    for (const lv_obj_t* child : root->children) {
        if (contains(child, obj)) return true;
    }
    return false;
}

lv_obj_tree_walk_res_t walk(lv_obj_t* obj, lv_obj_tree_walk_cb_t cb, void* user_data)
{
    lv_obj_tree_walk_res_t res = cb(obj, user_data);
    if (res == LV_OBJ_TREE_WALK_END) return res;
    if (res == LV_OBJ_TREE_WALK_SKIP_CHILDREN) return LV_OBJ_TREE_WALK_NEXT;
    /* A copy: the callback may not change the tree, but a copy keeps the walk safe anyway. */
    std::vector<lv_obj_t*> children = obj->children;
    for (lv_obj_t* child : children) {
        if (walk(child, cb, user_data) == LV_OBJ_TREE_WALK_END) return LV_OBJ_TREE_WALK_END;
    }
    return LV_OBJ_TREE_WALK_NEXT;
}

} // namespace
