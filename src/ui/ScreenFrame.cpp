#include "ui/ScreenFrame.h"

#include <array>
#include <map>

namespace {

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 170;

} // namespace

void apply_default_theme()
{
    lv_display_t* display = lv_display_get_default();
    if (display == nullptr) return;
    lv_theme_t* theme = lv_theme_default_init(display, lv_palette_main(LV_PALETTE_BLUE),
                                              lv_palette_main(LV_PALETTE_RED), true, &lv_font_montserrat_14);
    lv_display_set_theme(display, theme);
}

lv_obj_t* create_screen_frame(int gradientStop)
{
    apply_default_theme();
    lv_obj_t* screen = lv_screen_active();
    if (screen == nullptr) return nullptr;
    lv_obj_t* frame = lv_obj_create(screen);
    lv_obj_set_pos(frame, 0, 0);
    lv_obj_set_size(frame, kScreenWidth, kScreenHeight);
    lv_obj_set_style_pad_all(frame, 0, 0);
    lv_obj_set_style_radius(frame, 0, 0);
    lv_obj_set_style_bg_color(frame, lv_color_black(), 0);
    lv_obj_set_style_bg_opa(frame, LV_OPA_COVER, 0);
    lv_obj_set_style_bg_grad_dir(frame, LV_GRAD_DIR_VER, 0);
    lv_obj_set_style_bg_main_stop(frame, gradientStop, 0);
    lv_obj_set_style_bg_grad_stop(frame, gradientStop, 0);
    lv_obj_set_style_border_color(frame, lv_color_black(), 0);
    lv_obj_set_style_border_width(frame, kFrameBorder, 0);
    return frame;
}

lv_obj_t* create_screen_title(const char* text)
{
    lv_obj_t* screen = lv_screen_active();
    if (screen == nullptr) return nullptr;
    lv_obj_t* title = lv_label_create(screen);
    lv_obj_set_pos(title, 7, 6);
    lv_obj_set_size(title, 296, 29);
    lv_label_set_long_mode(title, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(title, &lv_font_montserrat_24, 0);
    lv_obj_set_style_text_color(title, lv_color_white(), 0);
    lv_label_set_text(title, text ? text : "");
    return title;
}

lv_obj_t* create_rule(int x, int y, int length)
{
    lv_obj_t* screen = lv_screen_active();
    if (screen == nullptr) return nullptr;
    // A line keeps a pointer to its points, so they must outlive it: one pair per length, kept for
    // the program's life (the screens use a handful of lengths).
    static std::map<int, std::array<lv_point_precise_t, 2>> points;
    auto it = points.try_emplace(length, std::array<lv_point_precise_t, 2>{{{0, 0}, {length, 0}}}).first;
    lv_obj_t* line = lv_line_create(screen);
    lv_line_set_points(line, it->second.data(), 2);
    lv_obj_set_pos(line, x, y);
    lv_obj_set_size(line, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    return line;
}
