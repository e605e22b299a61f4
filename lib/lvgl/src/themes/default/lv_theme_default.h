#pragma once
// The default theme in light or dark mode: screen, card, button, bar, slider, scale, line,
// button matrix, keyboard and message box looks, with paddings and radii scaled for a small
// display. Initialising it again updates the same styles in place.
#include "src/themes/lv_theme.h"

#ifdef __cplusplus
extern "C" {
#endif

lv_theme_t* lv_theme_default_init(lv_display_t* disp, lv_color_t color_primary, lv_color_t color_secondary, bool dark,
                                  const lv_font_t* font);
lv_theme_t* lv_theme_default_get(void);
bool lv_theme_default_is_inited(void);
void lv_theme_default_deinit(void);

#ifdef __cplusplus
}
#endif
