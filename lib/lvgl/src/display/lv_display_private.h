#pragma once
// Internal state of a display (C++ only).
#include <vector>

#include "lvgl.h"

struct _lv_display_t {
    int32_t hor_res = 0;
    int32_t ver_res = 0;
    int32_t offset_x = 0;
    int32_t offset_y = 0;
    lv_theme_t* theme = nullptr;
    std::vector<lv_obj_t*> screens;
    lv_obj_t* act_scr = nullptr;
    /* Something changed since the last drawn frame / since the last layout. */
    bool dirty = true;
    bool layout_request = true;
    /* 0x00RRGGBB work frame and the RGB565 frame handed to the flush callback. */
    std::vector<uint32_t> work;
    std::vector<uint16_t> frame;
    bool frame_valid = false;
    lv_display_flush_cb_t flush_cb = nullptr;
    void* driver_data = nullptr;
    void* user_data = nullptr;
    /* Releases what the back end keeps for the display (run when the display is deleted). */
    void (*driver_delete_cb)(lv_display_t* disp) = nullptr;
};

void lv_display_mark_dirty(lv_display_t* disp);
/* True (once) when the layout must be computed again. */
bool lv_display_take_layout_request(lv_display_t* disp);
void lv_display_forget_screen(lv_display_t* disp, lv_obj_t* scr);
const std::vector<lv_obj_t*>& lv_display_screens(lv_display_t* disp);
/* The last frame drawn (RGB565, hor_res x ver_res), empty before the first refresh. */
const std::vector<uint16_t>& lv_display_frame(lv_display_t* disp);
/* Draws the display when it is dirty; returns true when a new frame was made. */
bool lv_display_refresh(lv_display_t* disp);
