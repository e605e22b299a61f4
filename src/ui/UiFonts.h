#pragma once
#include "lvgl.h"

// The program's own fonts (printable ASCII 0x20..0x7E only), with the line heights, base lines and
// underline metrics the home screen and the overlays were laid out for. They are compiled in: their
// glyph tables are made at build time (lv_font_compile in src/CMakeLists.txt).
LV_FONT_DECLARE(ui_font_arzet24)
LV_FONT_DECLARE(ui_font_arzet_light102)
LV_FONT_DECLARE(ui_font_azer60)
LV_FONT_DECLARE(ui_font_sans100)
LV_FONT_DECLARE(ui_font_sans110)
