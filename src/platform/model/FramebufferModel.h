#pragma once
#include <cstdint>
#include <linux/fb.h>
#include <string>
#include <sys/types.h>
#include <vector>

// A model of a Linux framebuffer node for tests of the display driver on either target (see
// ModelNodes): the pixel memory is a file below the root folder, so the driver's mmap maps real
// memory, and the screen-information requests (FBIOGET_VSCREENINFO, FBIOGET_FSCREENINFO) are answered
// from the geometry set here. Until set, opening fails with ENOENT as on a unit without a display.
class FramebufferModel {
public:
    // Geometry and pixel format: resolutions, panning offsets, bits per pixel, channel bit fields.
    // The memory is `lineLength` bytes per line for every virtual line, all zero.
    static void set(const fb_var_screeninfo& var, uint32_t lineLength);
    static void reset();
    // The pixel memory as the display shows it now.
    static std::vector<uint8_t> memory();

    static int open();
    static bool owns(int fd);
    static int ioctl(int fd, unsigned long request, void* argument);
    static int close(int fd);
};
