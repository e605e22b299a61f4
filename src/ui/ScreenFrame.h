#pragma once
#include "lvgl.h"

// The frame every screen's draw() builds first, and the title and rule most screens put in it.
// Widgets are created on the active screen at positions inside the frame's 7-px border. Called on
// "systemTasks" (and by a splash during start-up) after LCD::initialize.

// Width of the black border around every screen.
inline constexpr int kFrameBorder = 7;

// The default theme on the default display: blue primary, red secondary, dark, Montserrat 14.
void apply_default_theme();
// Theme, then a 320 x 170 black container with a 7-px black border. `gradientStop` is the main and
// gradient stop of its vertical gradient (50 for the screens, 0 for the popup). Returns the
// container, or null when there is no display.
lv_obj_t* create_screen_frame(int gradientStop = 50);
// The screen title at (7, 6), 296 x 29, white Montserrat 24, cut with dots.
lv_obj_t* create_screen_title(const char* text);
// A horizontal rule of `length` pixels starting at (x, y).
lv_obj_t* create_rule(int x, int y, int length);
