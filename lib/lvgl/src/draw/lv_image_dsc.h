#pragma once
// Image descriptors: pixel data in memory that styles (a tiled background) can draw. Supported
// colour formats: RGB565, RGB888, XRGB8888 and ARGB8888 (bytes in blue, green, red(, alpha) order).
#include "src/misc/lv_color.h"
#include "src/misc/lv_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LV_IMAGE_HEADER_MAGIC (0x19)

typedef struct {
    uint32_t magic : 8;
    uint32_t cf : 8;
    uint32_t flags : 16;
    uint32_t w : 16;
    uint32_t h : 16;
    uint32_t stride : 16;
    uint32_t reserved_2 : 16;
} lv_image_header_t;

typedef struct {
    lv_image_header_t header;
    uint32_t data_size;
    const uint8_t* data;
    const void* reserved;
    const void* reserved_2;
} lv_image_dsc_t;

#define LV_IMAGE_DECLARE(var_name) extern const lv_image_dsc_t var_name;

#ifdef __cplusplus
}
#endif
