#pragma once
#include "lvgl.h"

// A 90 x 10 strip of the colour wheel (hue 0 at the left to 356 degrees at the right, full
// saturation and value), tiled behind the hue slider of colour items.
LV_IMAGE_DECLARE(img_hue_10)
