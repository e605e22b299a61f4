#pragma once
// The widget layer the screens are written against: the part of the LVGL 9.3 interface they use,
// with the same names, types and meanings, so that the screens read as ordinary LVGL code.
// Drawing is done in software into an RGB565 frame; the fonts are compiled in (4 bits per pixel).

#include "src/core/lv_obj.h"
#include "src/display/lv_display.h"
#include "src/draw/lv_image_dsc.h"
#include "src/drivers/lv_linux_fbdev.h"
#include "src/font/lv_font.h"
#include "src/font/lv_font_fmt_txt.h"
#include "src/font/lv_symbol_def.h"
#include "src/misc/lv_color.h"
#include "src/misc/lv_style.h"
#include "src/misc/lv_text.h"
#include "src/misc/lv_timer.h"
#include "src/misc/lv_types.h"
#include "src/themes/default/lv_theme_default.h"
#include "src/themes/lv_theme.h"
#include "src/widgets/bar/lv_bar.h"
#include "src/widgets/button/lv_button.h"
#include "src/widgets/buttonmatrix/lv_buttonmatrix.h"
#include "src/widgets/keyboard/lv_keyboard.h"
#include "src/widgets/label/lv_label.h"
#include "src/widgets/line/lv_line.h"
#include "src/widgets/msgbox/lv_msgbox.h"
#include "src/widgets/scale/lv_scale.h"
#include "src/widgets/slider/lv_slider.h"
