#include "ui/LCD.h"

#include "lvgl.h"
#include "platform/EnvSetting.h"
#include "platform/Paths.h"
#include "ui/ScreenFrame.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The panel's framebuffer is taller than the visible glass: the 170 visible rows start at row 35.
constexpr int kOffsetX = 0;
constexpr int kOffsetY = 35;
constexpr int kWidth = 320;
constexpr int kHeight = 170;
// The driver is first given the full height of the mapped area, then the visible one.
constexpr int kInitialHeight = 210;

void draw_default_splash()
{
    lv_obj_t* screen = lv_screen_active();
    lv_obj_t* box = lv_obj_create(screen);
    lv_obj_set_pos(box, 0, 0);
    lv_obj_set_size(box, kWidth, kHeight);
    lv_obj_set_style_pad_all(box, 0, 0);
    lv_obj_set_style_radius(box, 0, 0);
    lv_obj_set_style_bg_color(box, lv_color_black(), 0);
    lv_obj_set_style_bg_opa(box, LV_OPA_COVER, 0);
    lv_obj_set_style_border_color(box, lv_color_black(), 0);
    lv_obj_set_style_border_width(box, kFrameBorder, 0);

    lv_obj_t* name = lv_label_create(screen);
    lv_obj_set_style_text_font(name, &lv_font_montserrat_48, 0);
    lv_obj_set_style_text_align(name, LV_TEXT_ALIGN_CENTER, 0);
    lv_obj_set_style_text_color(name, lv_color_white(), 0);
    lv_label_set_text(name, "QUELM");
    lv_obj_center(name);

    lv_obj_t* platform = lv_label_create(screen);
    lv_obj_set_style_text_font(platform, &lv_font_montserrat_14, 0);
    lv_obj_set_style_text_align(platform, LV_TEXT_ALIGN_CENTER, 0);
    lv_obj_set_style_text_color(platform, lv_color_white(), 0);
    lv_label_set_text(platform, "platform");
    lv_obj_align(platform, LV_ALIGN_CENTER, 48, 30);
}

#if KESTRUN_HOST
// The host writes each frame to $KESTRUN_SCREEN_PNG; a file it cannot write is said once, not
// left for a person to wonder why no picture comes.
void check_screen_file()
{
    const char* file = EnvSetting::text("KESTRUN_SCREEN_PNG");
    if (file == nullptr) return;
    std::string folder = file;
    const size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(folder.c_str(), W_OK) != 0)
        EnvSetting::refuse("LCD", "KESTRUN_SCREEN_PNG", file, "is not in a folder that exists and may be written",
                           "no screen file is written");
}
#endif

} // namespace

LCD::SplashFunction LCD::custom_splash = nullptr;
std::atomic<bool> LCD::initialized{false};

void LCD::initialize()
{
    lv_init();
#if KESTRUN_HOST
    check_screen_file();
#endif
    lv_display_t* display = lv_linux_fbdev_create();
    std::string device = Paths::map("/dev/fb0");
    lv_linux_fbdev_set_file(display, device.c_str());
    lv_display_set_offset(display, kOffsetX, kOffsetY);
    lv_display_set_resolution(display, kWidth, kInitialHeight);
    lv_display_set_resolution(display, kWidth, kHeight);
    initialized.store(true, std::memory_order_release);
}

void LCD::set_custom_splash(SplashFunction function)
{
    custom_splash = function;
}

void LCD::splash()
{
    if (!isInitialized()) return;
    if (custom_splash) custom_splash();
    else draw_default_splash();
    lv_timer_handler();
}

void LCD::flush()
{
    if (!isInitialized()) return;
    lv_timer_handler();
}

void LCD::clear()
{
    if (!isInitialized()) return;
    lv_obj_clean(lv_screen_active());
}
