#include "app/KestrunUpdater.h"

#include "app/Kestrun.h"
#include "app/KestrunBsp.h"
#include "base/System.h"
#include "lvgl.h"
#include "params/NodeItem.h"
#include "ui/DrawerNode.h"
#include "ui/EventDispatcher.h"
#include "ui/ScreenFrame.h"

KestrunUpdater::KestrunUpdater(Node* /*app*/, Node* /*root*/)
{
    bsp = new KestrunBsp();
    Kestrun::setInfoData();
}

bool KestrunUpdater::draw()
{
    apply_default_theme();
    lv_obj_t* title = lv_label_create(lv_screen_active());
    lv_obj_set_pos(title, 0, 40);
    lv_obj_set_size(title, 320, 51);
    lv_label_set_long_mode(title, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(title, &lv_font_montserrat_40, 0);
    lv_obj_set_style_text_align(title, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_text(title, "Update Mode");

    lv_obj_t* hint = lv_label_create(lv_screen_active());
    lv_obj_set_pos(hint, 78, 129);
    lv_obj_set_size(hint, 235, 29);
    lv_label_set_long_mode(hint, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(hint, &lv_font_montserrat_16, 0);
    lv_label_set_text(hint, "press BROWSE for settings");
    return true;
}

bool KestrunUpdater::onEvent(int code)
{
    if (code != EventCode::MAIN + EventCode::PUSH_CLICK) return false;
    // Only from this page: a browser above it takes its own clicks.
    if (EventDispatcher::hasFocus(this) && System::system != nullptr) new DrawerNode(System::system);
    return true;
}
