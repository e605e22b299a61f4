#include "ui/DrawerRows.h"

#include "params/NodeParList.h"
#include "ui/ScreenFrame.h"

namespace {

constexpr int kScrollbarX = 305;
constexpr int kScrollbarY = 39;
constexpr int kRowX = 7;
constexpr int kMarkerX = 140;

} // namespace

void create_rows_frame(const char* title)
{
    create_screen_frame();
    create_screen_title(title);
    create_rule(7, 33, 306);
}

void create_rows_scrollbar(int rows, int scrollTop)
{
    lv_obj_t* bar = lv_bar_create(lv_screen_active());
    lv_obj_set_pos(bar, kScrollbarX, kScrollbarY);
    lv_obj_set_size(bar, 8, 125);
    lv_bar_set_mode(bar, LV_BAR_MODE_RANGE);
    lv_bar_set_range(bar, 0, rows);
    // The bar fills from the bottom: the window's far end is its value, its near end the start.
    lv_bar_set_value(bar, rows - scrollTop, LV_ANIM_OFF);
    lv_bar_set_start_value(bar, rows - kRowsShown - scrollTop, LV_ANIM_OFF);
    lv_obj_set_style_bg_color(bar, lv_color_white(), LV_PART_INDICATOR);
    lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_INDICATOR);
    lv_obj_set_style_radius(bar, 0, LV_PART_INDICATOR);
    lv_obj_set_style_border_color(bar, lv_color_white(), LV_PART_MAIN);
    lv_obj_set_style_border_width(bar, 1, LV_PART_MAIN);
    lv_obj_set_style_bg_opa(bar, LV_OPA_TRANSP, LV_PART_MAIN);
    lv_obj_set_style_radius(bar, 5, LV_PART_MAIN);
}

lv_obj_t* create_row_highlight(int y, int width, bool selected)
{
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, kRowX, y);
    lv_obj_set_size(label, width, kRowHeight);
    lv_label_set_text(label, "");
    lv_obj_set_style_bg_color(label, selected ? lv_color_white() : lv_color_black(), 0);
    lv_obj_set_style_bg_opa(label, selected ? LV_OPA_COVER : LV_OPA_TRANSP, 0);
    return label;
}

lv_obj_t* create_row_text(int x, int y, int width, int height, const char* text, uint32_t color)
{
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, x, y);
    lv_obj_set_size(label, width, height);
    lv_label_set_long_mode(label, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(label, &lv_font_montserrat_20, 0);
    lv_obj_set_style_text_color(label, lv_color_hex(color), 0);
    lv_label_set_text(label, text ? text : "");
    return label;
}

void create_row_arrow(int y, int width, uint32_t color)
{
    // Two glyphs drawn 3 px apart make one arrow: the minus is its shaft, the chevron its head.
    const char* glyphs[2] = {LV_SYMBOL_MINUS, LV_SYMBOL_RIGHT};
    const int widths[2] = {width - 136, width - 133};
    for (int i = 0; i < 2; i++) {
        lv_obj_t* label = create_row_text(kMarkerX, y, widths[i], 20, glyphs[i], color);
        lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_RIGHT, 0);
        lv_obj_set_style_pad_right(label, 4, 0);
    }
}

lv_obj_t* create_row_value(int y, int width, const char* text, uint32_t color)
{
    lv_obj_t* label = create_row_text(kMarkerX, y, width - 133, 20, text, color);
    lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_RIGHT, 0);
    lv_obj_set_style_pad_right(label, 4, 0);
    return label;
}

bool rows_cursor_next(int& cursor, int& scrollTop, int rows)
{
    if (cursor >= rows - 1) return false;
    cursor++;
    if (cursor >= scrollTop + kRowsShown) scrollTop = cursor - kRowsShown + 1;
    return true;
}

bool rows_cursor_previous(int& cursor, int& scrollTop)
{
    if (cursor <= 0) return false;
    cursor--;
    if (cursor < scrollTop) scrollTop = cursor;
    return true;
}

std::string shown_value(Node* node)
{
    auto* selection = dynamic_cast<NodeParList*>(node);
    if (selection && selection->isUnplayable()) return LV_SYMBOL_WARNING " " + node->toString();
    return node->toString();
}
