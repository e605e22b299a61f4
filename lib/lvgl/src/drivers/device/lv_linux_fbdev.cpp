// Framebuffer display of the unit: the device is mapped once and every frame is copied into it at
// the display's offset, converted to the device's pixel format (16 or 32 bits per pixel, channels
// where the device's bit fields put them). The node's calls go through DeviceNodes, so tests run
// this driver against a model framebuffer.
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "lvgl.h"
#include "platform/DeviceNodes.h"
#include "src/display/lv_display_private.h"

namespace {

struct DeviceFbdev {
    std::string file;
    int fd = -1;
    uint8_t* mem = nullptr;
    size_t size = 0;
    fb_var_screeninfo vinfo{};
    fb_fix_screeninfo finfo{};
    bool force_refresh = false;
};

void flush(lv_display_t* disp, const lv_area_t* area, uint8_t* px_map);
void release(lv_display_t* disp);

} // namespace

lv_display_t* lv_linux_fbdev_create(void)
{
    lv_display_t* disp = lv_display_create(800, 480);
    lv_display_set_driver_data(disp, new DeviceFbdev());
    lv_display_set_flush_cb(disp, flush);
    disp->driver_delete_cb = release;
    return disp;
}

void lv_linux_fbdev_set_file(lv_display_t* disp, const char* file)
{
    auto* fb = static_cast<DeviceFbdev*>(lv_display_get_driver_data(disp));
    if (fb == nullptr || file == nullptr) return;
    if (fb->mem) {
        munmap(fb->mem, fb->size);
        fb->mem = nullptr;
    }
    DeviceNodes& nodes = DeviceNodes::current();
    if (fb->fd >= 0) nodes.close(fb->fd);
    fb->file = file;
    fb->fd = nodes.open(file, O_RDWR | O_CLOEXEC);
    if (fb->fd < 0) {
        std::printf("ERROR (lvgl): cannot open %s\n", file);
        return;
    }
    if (nodes.ioctl(fb->fd, FBIOGET_FSCREENINFO, &fb->finfo) != 0 ||
        nodes.ioctl(fb->fd, FBIOGET_VSCREENINFO, &fb->vinfo) != 0) {
        std::printf("ERROR (lvgl): cannot read the screen information of %s\n", file);
        nodes.close(fb->fd);
        fb->fd = -1;
        return;
    }
    if (fb->vinfo.bits_per_pixel != 16 && fb->vinfo.bits_per_pixel != 32) {
        std::printf("ERROR (lvgl): %u bits per pixel are not supported\n", fb->vinfo.bits_per_pixel);
        nodes.close(fb->fd);
        fb->fd = -1;
        return;
    }
    fb->size = static_cast<size_t>(fb->finfo.smem_len);
    void* mem = mmap(nullptr, fb->size, PROT_READ | PROT_WRITE, MAP_SHARED, fb->fd, 0);
    if (mem == MAP_FAILED) {
        std::printf("ERROR (lvgl): cannot map %s\n", file);
        nodes.close(fb->fd);
        fb->fd = -1;
        return;
    }
    fb->mem = static_cast<uint8_t*>(mem);
    lv_display_set_resolution(disp, static_cast<int32_t>(fb->vinfo.xres), static_cast<int32_t>(fb->vinfo.yres));
}

void lv_linux_fbdev_set_force_refresh(lv_display_t* disp, bool enabled)
{
    auto* fb = static_cast<DeviceFbdev*>(lv_display_get_driver_data(disp));
    if (fb) fb->force_refresh = enabled;
}

namespace {

// One channel of an RGB565 pixel (`bits` wide at `shift`) widened to 8 bits, then narrowed to the
// device's field and put at its offset.
uint32_t channel(uint16_t px, int shift, int bits, const fb_bitfield& field)
{
    uint32_t v = (px >> shift) & ((1u << bits) - 1);
    v = (v << (8 - bits)) | (v >> (2 * bits - 8));
    if (field.length == 0) return 0;
    if (field.length < 8) v >>= 8 - field.length;
    return v << field.offset;
}

uint32_t device_pixel(uint16_t px, const fb_var_screeninfo& v)
{
    uint32_t alpha = v.transp.length ? ((1u << v.transp.length) - 1) << v.transp.offset : 0;
    return channel(px, 11, 5, v.red) | channel(px, 5, 6, v.green) | channel(px, 0, 5, v.blue) | alpha;
}

void flush(lv_display_t* disp, const lv_area_t* area, uint8_t* px_map)
{
    auto* fb = static_cast<DeviceFbdev*>(lv_display_get_driver_data(disp));
    if (fb == nullptr || fb->mem == nullptr) {
        lv_display_flush_ready(disp);
        return;
    }
    const uint16_t* src = reinterpret_cast<const uint16_t*>(px_map);
    int32_t w = lv_area_get_width(area);
    int32_t ox = lv_display_get_offset_x(disp) + static_cast<int32_t>(fb->vinfo.xoffset);
    int32_t oy = lv_display_get_offset_y(disp) + static_cast<int32_t>(fb->vinfo.yoffset);
    uint32_t bytes = fb->vinfo.bits_per_pixel / 8;
    for (int32_t y = area->y1; y <= area->y2; y++) {
        int32_t fy = y + oy;
        if (fy < 0 || static_cast<uint32_t>(fy) >= fb->vinfo.yres_virtual) continue;
        for (int32_t x = area->x1; x <= area->x2; x++) {
            int32_t fx = x + ox;
            if (fx < 0 || static_cast<uint32_t>(fx) >= fb->vinfo.xres_virtual) continue;
            size_t at = static_cast<size_t>(fy) * fb->finfo.line_length + static_cast<size_t>(fx) * bytes;
            if (at + bytes > fb->size) continue;
            uint32_t v = device_pixel(src[(y - area->y1) * w + (x - area->x1)], fb->vinfo);
            if (bytes == 2) {
                uint16_t v16 = static_cast<uint16_t>(v);
                std::memcpy(fb->mem + at, &v16, 2);
            } else {
                std::memcpy(fb->mem + at, &v, 4);
            }
        }
    }
    lv_display_flush_ready(disp);
}

void release(lv_display_t* disp)
{
    auto* fb = static_cast<DeviceFbdev*>(lv_display_get_driver_data(disp));
    if (fb == nullptr) return;
    if (fb->mem) munmap(fb->mem, fb->size);
    if (fb->fd >= 0) DeviceNodes::current().close(fb->fd);
    delete fb;
    lv_display_set_driver_data(disp, nullptr);
}

} // namespace
