#include "src/display/lv_display_private.h"

#include <algorithm>

#include "src/core/lv_obj_private.h"
#include "src/draw/lv_draw.h"

namespace {

lv_display_t* default_display = nullptr;

std::vector<lv_display_t*>& displays();
void resize_frames(lv_display_t* disp);
uint16_t to_rgb565(uint32_t px);

} // namespace

lv_display_t* lv_display_create(int32_t hor_res, int32_t ver_res)
{
    auto* disp = new _lv_display_t();
    disp->hor_res = hor_res;
    disp->ver_res = ver_res;
    resize_frames(disp);
    displays().push_back(disp);
    if (default_display == nullptr) default_display = disp;
    /* Every display starts with the default theme, in light mode until the application sets one. */
    disp->theme = lv_theme_default_is_inited()
                      ? lv_theme_default_get()
                      : lv_theme_default_init(disp, lv_palette_main(LV_PALETTE_BLUE), lv_palette_main(LV_PALETTE_RED),
                                              false, LV_FONT_DEFAULT);

    lv_display_t* saved = default_display;
    default_display = disp;
    lv_obj_t* scr = lv_obj_class_create_obj(&lv_obj_class, nullptr);
    default_display = saved;
    scr->disp = disp;
    disp->screens.push_back(scr);
    disp->act_scr = scr;
    return disp;
}

void lv_display_delete(lv_display_t* disp)
{
    if (disp == nullptr) return;
    std::vector<lv_obj_t*> screens = disp->screens;
    for (lv_obj_t* scr : screens) lv_obj_delete(scr);
    if (disp->driver_delete_cb) disp->driver_delete_cb(disp);
    auto& list = displays();
    list.erase(std::remove(list.begin(), list.end(), disp), list.end());
    if (default_display == disp) default_display = list.empty() ? nullptr : list.front();
    delete disp;
}

void lv_display_set_default(lv_display_t* disp)
{
    default_display = disp;
}

lv_display_t* lv_display_get_default(void)
{
    return default_display;
}

lv_display_t* lv_display_get_next(lv_display_t* disp)
{
    auto& list = displays();
    if (disp == nullptr) return list.empty() ? nullptr : list.front();
    auto it = std::find(list.begin(), list.end(), disp);
    if (it == list.end() || ++it == list.end()) return nullptr;
    return *it;
}

void lv_display_set_resolution(lv_display_t* disp, int32_t hor_res, int32_t ver_res)
{
    if (disp == nullptr) disp = default_display;
    if (disp == nullptr || (disp->hor_res == hor_res && disp->ver_res == ver_res)) return;
    disp->hor_res = hor_res;
    disp->ver_res = ver_res;
    resize_frames(disp);
    for (lv_obj_t* scr : disp->screens) lv_obj_set_size(scr, hor_res, ver_res);
    lv_display_mark_dirty(disp);
}

int32_t lv_display_get_horizontal_resolution(const lv_display_t* disp)
{
    if (disp == nullptr) disp = default_display;
    return disp ? disp->hor_res : 0;
}

int32_t lv_display_get_vertical_resolution(const lv_display_t* disp)
{
    if (disp == nullptr) disp = default_display;
    return disp ? disp->ver_res : 0;
}

void lv_display_set_offset(lv_display_t* disp, int32_t x, int32_t y)
{
    if (disp == nullptr) disp = default_display;
    if (disp == nullptr) return;
    disp->offset_x = x;
    disp->offset_y = y;
    lv_display_mark_dirty(disp);
}

int32_t lv_display_get_offset_x(const lv_display_t* disp)
{
    if (disp == nullptr) disp = default_display;
    return disp ? disp->offset_x : 0;
}

int32_t lv_display_get_offset_y(const lv_display_t* disp)
{
    if (disp == nullptr) disp = default_display;
    return disp ? disp->offset_y : 0;
}

lv_color_format_t lv_display_get_color_format(lv_display_t* disp)
{
    LV_UNUSED(disp);
    return LV_COLOR_FORMAT_RGB565;
}

void lv_display_set_theme(lv_display_t* disp, lv_theme_t* th)
{
    if (disp == nullptr) disp = default_display;
    if (disp == nullptr) return;
    disp->theme = th;
    /* An empty screen takes the new theme's look, as if it had been created with it. */
    lv_obj_t* scr = disp->act_scr;
    if (scr && scr->children.empty()) {
        lv_obj_remove_style(scr, nullptr, LV_PART_ANY | LV_STATE_ANY);
        lv_obj_set_size(scr, disp->hor_res, disp->ver_res);
        lv_theme_apply(scr);
    }
    lv_display_mark_dirty(disp);
}

lv_theme_t* lv_display_get_theme(lv_display_t* disp)
{
    if (disp == nullptr) disp = default_display;
    return disp ? disp->theme : nullptr;
}

lv_obj_t* lv_display_get_screen_active(lv_display_t* disp)
{
    if (disp == nullptr) disp = default_display;
    return disp ? disp->act_scr : nullptr;
}

lv_obj_t* lv_screen_active(void)
{
    return lv_display_get_screen_active(nullptr);
}

void lv_screen_load(lv_obj_t* scr)
{
    if (scr == nullptr || scr->parent != nullptr || scr->disp == nullptr) return;
    lv_display_t* disp = scr->disp;
    if (std::find(disp->screens.begin(), disp->screens.end(), scr) == disp->screens.end()) {
        disp->screens.push_back(scr);
    }
    disp->act_scr = scr;
    lv_display_mark_dirty(disp);
}

void lv_display_set_flush_cb(lv_display_t* disp, lv_display_flush_cb_t flush_cb)
{
    if (disp) disp->flush_cb = flush_cb;
}

void lv_display_flush_ready(lv_display_t* disp)
{
    LV_UNUSED(disp); /* flushing is synchronous */
}

void lv_display_set_driver_data(lv_display_t* disp, void* driver_data)
{
    if (disp) disp->driver_data = driver_data;
}

void* lv_display_get_driver_data(lv_display_t* disp)
{
    return disp ? disp->driver_data : nullptr;
}

void lv_display_set_user_data(lv_display_t* disp, void* user_data)
{
    if (disp) disp->user_data = user_data;
}

void* lv_display_get_user_data(lv_display_t* disp)
{
    return disp ? disp->user_data : nullptr;
}

void lv_display_mark_dirty(lv_display_t* disp)
{
    disp->dirty = true;
    disp->layout_request = true;
}

bool lv_display_take_layout_request(lv_display_t* disp)
{
    bool request = disp->layout_request;
    disp->layout_request = false;
    return request;
}

void lv_display_forget_screen(lv_display_t* disp, lv_obj_t* scr)
{
    auto& list = disp->screens;
    list.erase(std::remove(list.begin(), list.end(), scr), list.end());
    if (disp->act_scr == scr) disp->act_scr = list.empty() ? nullptr : list.front();
    lv_display_mark_dirty(disp);
}

const std::vector<lv_obj_t*>& lv_display_screens(lv_display_t* disp)
{
    return disp->screens;
}

const std::vector<uint16_t>& lv_display_frame(lv_display_t* disp)
{
    static const std::vector<uint16_t> empty;
    return disp && disp->frame_valid ? disp->frame : empty;
}

bool lv_display_refresh(lv_display_t* disp)
{
    if (disp == nullptr || !disp->dirty || disp->hor_res <= 0 || disp->ver_res <= 0) return false;
    disp->dirty = false;
    std::fill(disp->work.begin(), disp->work.end(), 0);
    if (disp->act_scr) {
        lv_obj_update_layout(disp->act_scr);
        lv_layer_t layer;
        layer.buf = disp->work.data();
        layer.w = disp->hor_res;
        layer.h = disp->ver_res;
        lv_area_set(&layer.clip, 0, 0, disp->hor_res - 1, disp->ver_res - 1);
        lv_obj_draw_tree(disp->act_scr, &layer);
    }
    for (size_t i = 0; i < disp->work.size(); i++) disp->frame[i] = to_rgb565(disp->work[i]);
    disp->frame_valid = true;
    if (disp->flush_cb) {
        lv_area_t area = {0, 0, disp->hor_res - 1, disp->ver_res - 1};
        disp->flush_cb(disp, &area, reinterpret_cast<uint8_t*>(disp->frame.data()));
    }
    return true;
}

void lv_refr_now(lv_display_t* disp)
{
    if (disp) {
        lv_display_refresh(disp);
        return;
    }
    for (lv_display_t* d = lv_display_get_next(nullptr); d; d = lv_display_get_next(d)) lv_display_refresh(d);
}

namespace {

std::vector<lv_display_t*>& displays()
{
    static std::vector<lv_display_t*> list;
    return list;
}

void resize_frames(lv_display_t* disp)
{
    size_t n = static_cast<size_t>(LV_MAX(disp->hor_res, 0)) * static_cast<size_t>(LV_MAX(disp->ver_res, 0));
    disp->work.assign(n, 0);
    disp->frame.assign(n, 0);
    disp->frame_valid = false;
}

uint16_t to_rgb565(uint32_t px)
{
    uint32_t r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
    return static_cast<uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

} // namespace
