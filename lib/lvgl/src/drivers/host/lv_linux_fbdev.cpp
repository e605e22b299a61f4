// Host stand-in for the framebuffer display: the frame stays in memory; when $KESTRUN_SCREEN_PNG
// names a file, each new frame is written there as a PNG (through a temporary file and a rename,
// so that a reader never sees half a picture). No device is ever opened.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lvgl.h"
#include "src/display/lv_display_private.h"
#include "src/others/test/lv_test.h"

namespace {

struct HostFbdev {
    std::string file;
    bool force_refresh = false;
};

void flush(lv_display_t* disp, const lv_area_t* area, uint8_t* px_map);
void release(lv_display_t* disp);

} // namespace

lv_display_t* lv_linux_fbdev_create(void)
{
    lv_display_t* disp = lv_display_create(800, 480);
    lv_display_set_driver_data(disp, new HostFbdev());
    lv_display_set_flush_cb(disp, flush);
    disp->driver_delete_cb = release;
    return disp;
}

void lv_linux_fbdev_set_file(lv_display_t* disp, const char* file)
{
    auto* fb = static_cast<HostFbdev*>(lv_display_get_driver_data(disp));
    if (fb && file) fb->file = file;
}

void lv_linux_fbdev_set_force_refresh(lv_display_t* disp, bool enabled)
{
    auto* fb = static_cast<HostFbdev*>(lv_display_get_driver_data(disp));
    if (fb) fb->force_refresh = enabled;
}

namespace {

void flush(lv_display_t* disp, const lv_area_t* area, uint8_t* px_map)
{
    const char* path = std::getenv("KESTRUN_SCREEN_PNG");
    if (path && *path) {
        std::string tmp = std::string(path) + ".tmp";
        const uint16_t* frame = reinterpret_cast<const uint16_t*>(px_map);
        if (lv_test_write_png_rgb565(frame, lv_area_get_width(area), lv_area_get_height(area), tmp.c_str())) {
            std::rename(tmp.c_str(), path);
        }
    }
    lv_display_flush_ready(disp);
}

void release(lv_display_t* disp)
{
    delete static_cast<HostFbdev*>(lv_display_get_driver_data(disp));
    lv_display_set_driver_data(disp, nullptr);
}

} // namespace
