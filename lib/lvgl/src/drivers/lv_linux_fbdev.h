#pragma once
// Display on a Linux framebuffer device. On the unit the frame is written to the device at the
// display's offset, in the device's 16 or 32 bits per pixel. In the host build nothing is opened:
// the frame stays in memory and, when $KESTRUN_SCREEN_PNG names a file, every new frame is written
// there as a PNG.
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

lv_display_t* lv_linux_fbdev_create(void);
void lv_linux_fbdev_set_file(lv_display_t* disp, const char* file);
void lv_linux_fbdev_set_force_refresh(lv_display_t* disp, bool enabled);

#ifdef __cplusplus
}
#endif
