// The default theme. Colours of the dark and light modes, paddings and radii follow the usual
// look of the toolkit on a small (320 px wide) display at the default 130 dpi.
#include "src/core/lv_obj_private.h"

namespace {

constexpr uint32_t kModeDark = 0x01;

struct ThemeStyles {
    lv_style_t scr;
    lv_style_t card;
    lv_style_t btn;
    lv_style_t pad_zero;
    lv_style_t pad_small;
    lv_style_t pad_gap;
    lv_style_t circle;
    lv_style_t bg_color_primary;
    lv_style_t bg_color_primary_muted;
    lv_style_t bg_color_grey;
    lv_style_t knob;
    lv_style_t line;
    lv_style_t scale;
    lv_style_t scale_ticks;
    lv_style_t keyboard_button_bg;
    lv_style_t msgbox_footer;
    lv_style_t msgbox_section;
    lv_style_t msgbox_button;
};

struct DefaultTheme {
    lv_theme_t base;
    ThemeStyles styles;
    lv_color_t color_scr;
    lv_color_t color_card;
    lv_color_t color_text;
    lv_color_t color_grey;
    bool inited;
};

DefaultTheme theme;

/* Paddings and radii for a display of at most 320 px width. */
const int32_t kPadDef = LV_DPX(12);

const int32_t kPadSmall = LV_DPX(10);

const int32_t kPadTiny = LV_DPX(6);

const int32_t kRadiusDefault = LV_DPX(8);

void style_reset(lv_style_t* style);
void style_init(DefaultTheme& t);
void apply(lv_theme_t* th, lv_obj_t* obj);

} // namespace

lv_theme_t* lv_theme_default_init(lv_display_t* disp, lv_color_t color_primary, lv_color_t color_secondary, bool dark,
                                  const lv_font_t* font)
{
    theme.base.apply_cb = apply;
    theme.base.parent = nullptr;
    theme.base.disp = disp;
    theme.base.color_primary = color_primary;
    theme.base.color_secondary = color_secondary;
    theme.base.font_small = font;
    theme.base.font_normal = font;
    theme.base.font_large = font;
    theme.base.flags = dark ? kModeDark : 0;
    if (dark) {
        theme.color_scr = lv_color_hex(0x15171A);
        theme.color_card = lv_color_hex(0x282B30);
        theme.color_text = lv_palette_lighten(LV_PALETTE_GREY, 5);
        theme.color_grey = lv_color_hex(0x2F3237);
    } else {
        theme.color_scr = lv_palette_lighten(LV_PALETTE_GREY, 4);
        theme.color_card = lv_color_white();
        theme.color_text = lv_palette_darken(LV_PALETTE_GREY, 4);
        theme.color_grey = lv_palette_lighten(LV_PALETTE_GREY, 2);
    }
    style_init(theme);
    theme.inited = true;
    lv_obj_report_style_change(nullptr);
    return &theme.base;
}

lv_theme_t* lv_theme_default_get(void)
{
    return theme.inited ? &theme.base : nullptr;
}

bool lv_theme_default_is_inited(void)
{
    return theme.inited;
}

void lv_theme_default_deinit(void)
{
    if (!theme.inited) return;
    ThemeStyles& s = theme.styles;
    for (lv_style_t* style :
         {&s.scr, &s.card, &s.btn, &s.pad_zero, &s.pad_small, &s.pad_gap, &s.circle, &s.bg_color_primary,
          &s.bg_color_primary_muted, &s.bg_color_grey, &s.knob, &s.line, &s.scale, &s.scale_ticks,
          &s.keyboard_button_bg, &s.msgbox_footer, &s.msgbox_section, &s.msgbox_button}) {
        lv_style_reset(style);
    }
    theme.inited = false;
}

namespace {

void style_reset(lv_style_t* style)
{
    if (theme.inited) lv_style_reset(style);
    else lv_style_init(style);
}

void style_init(DefaultTheme& t)
{
    ThemeStyles& s = t.styles;

    style_reset(&s.scr);
    lv_style_set_bg_opa(&s.scr, LV_OPA_COVER);
    lv_style_set_bg_color(&s.scr, t.color_scr);
    lv_style_set_text_color(&s.scr, t.color_text);
    lv_style_set_text_font(&s.scr, t.base.font_normal);
    lv_style_set_pad_row(&s.scr, kPadSmall);
    lv_style_set_pad_column(&s.scr, kPadSmall);

    style_reset(&s.card);
    lv_style_set_radius(&s.card, kRadiusDefault);
    lv_style_set_bg_opa(&s.card, LV_OPA_COVER);
    lv_style_set_bg_color(&s.card, t.color_card);
    lv_style_set_border_color(&s.card, t.color_grey);
    lv_style_set_border_width(&s.card, LV_DPX(2));
    lv_style_set_text_color(&s.card, t.color_text);
    lv_style_set_pad_all(&s.card, kPadDef);
    lv_style_set_pad_row(&s.card, kPadSmall);
    lv_style_set_pad_column(&s.card, kPadSmall);
    lv_style_set_line_color(&s.card, t.color_grey);
    lv_style_set_line_width(&s.card, LV_DPX(1));

    style_reset(&s.btn);
    lv_style_set_radius(&s.btn, kRadiusDefault);
    lv_style_set_bg_opa(&s.btn, LV_OPA_COVER);
    lv_style_set_bg_color(&s.btn, t.color_grey);
    lv_style_set_text_color(&s.btn, t.color_text);
    lv_style_set_pad_hor(&s.btn, kPadDef);
    lv_style_set_pad_ver(&s.btn, kPadSmall);
    if (!(t.base.flags & kModeDark)) {
        lv_style_set_shadow_color(&s.btn, lv_palette_main(LV_PALETTE_GREY));
        lv_style_set_shadow_width(&s.btn, LV_DPX(3));
        lv_style_set_shadow_opa(&s.btn, LV_OPA_50);
        lv_style_set_shadow_offset_y(&s.btn, LV_DPX(4));
    }

    style_reset(&s.pad_zero);
    lv_style_set_pad_all(&s.pad_zero, 0);
    lv_style_set_pad_row(&s.pad_zero, 0);
    lv_style_set_pad_column(&s.pad_zero, 0);

    style_reset(&s.pad_small);
    lv_style_set_pad_all(&s.pad_small, kPadSmall);
    lv_style_set_pad_gap(&s.pad_small, kPadSmall);

    style_reset(&s.pad_gap);
    lv_style_set_pad_row(&s.pad_gap, LV_DPX(10));
    lv_style_set_pad_column(&s.pad_gap, LV_DPX(10));

    style_reset(&s.circle);
    lv_style_set_radius(&s.circle, LV_RADIUS_CIRCLE);

    style_reset(&s.bg_color_primary);
    lv_style_set_bg_color(&s.bg_color_primary, t.base.color_primary);
    lv_style_set_text_color(&s.bg_color_primary, lv_color_white());
    lv_style_set_bg_opa(&s.bg_color_primary, LV_OPA_COVER);

    style_reset(&s.bg_color_primary_muted);
    lv_style_set_bg_color(&s.bg_color_primary_muted, t.base.color_primary);
    lv_style_set_text_color(&s.bg_color_primary_muted, t.base.color_primary);
    lv_style_set_bg_opa(&s.bg_color_primary_muted, LV_OPA_20);

    style_reset(&s.bg_color_grey);
    lv_style_set_bg_color(&s.bg_color_grey, t.color_grey);
    lv_style_set_bg_opa(&s.bg_color_grey, LV_OPA_COVER);
    lv_style_set_text_color(&s.bg_color_grey, t.color_text);

    style_reset(&s.knob);
    lv_style_set_bg_color(&s.knob, t.base.color_primary);
    lv_style_set_bg_opa(&s.knob, LV_OPA_COVER);
    lv_style_set_pad_all(&s.knob, LV_DPX(6));
    lv_style_set_radius(&s.knob, LV_RADIUS_CIRCLE);

    style_reset(&s.line);
    lv_style_set_line_color(&s.line, t.color_text);
    lv_style_set_line_width(&s.line, LV_DPX(1));

    style_reset(&s.scale);
    lv_style_set_line_color(&s.scale, t.color_text);
    lv_style_set_line_width(&s.scale, LV_DPX(2));
    lv_style_set_text_color(&s.scale, t.color_text);
    lv_style_set_length(&s.scale, LV_DPX(12));
    lv_style_set_pad_all(&s.scale, 0);

    style_reset(&s.scale_ticks);
    lv_style_set_line_color(&s.scale_ticks, t.color_text);
    lv_style_set_line_width(&s.scale_ticks, LV_DPX(1));
    lv_style_set_length(&s.scale_ticks, LV_DPX(6));

    style_reset(&s.keyboard_button_bg);
    lv_style_set_bg_color(&s.keyboard_button_bg, (t.base.flags & kModeDark) ? t.color_grey : lv_color_white());
    lv_style_set_bg_opa(&s.keyboard_button_bg, LV_OPA_COVER);
    lv_style_set_radius(&s.keyboard_button_bg, LV_DPX(6));
    lv_style_set_text_color(&s.keyboard_button_bg, t.color_text);

    style_reset(&s.msgbox_section);
    lv_style_set_pad_all(&s.msgbox_section, kPadTiny);
    lv_style_set_pad_gap(&s.msgbox_section, kPadTiny);

    style_reset(&s.msgbox_button);
    lv_style_set_pad_ver(&s.msgbox_button, kPadTiny);

    style_reset(&s.msgbox_footer);
    lv_style_set_pad_all(&s.msgbox_footer, 0);
    lv_style_set_pad_column(&s.msgbox_footer, kPadSmall);
}

void apply(lv_theme_t* th, lv_obj_t* obj)
{
    LV_UNUSED(th);
    ThemeStyles& s = theme.styles;
    if (lv_obj_get_parent(obj) == nullptr) {
        lv_obj_add_style(obj, &s.scr, 0);
        return;
    }
    if (lv_obj_check_type(obj, &lv_obj_class)) {
        lv_obj_add_style(obj, &s.card, 0);
    } else if (lv_obj_check_type(obj, &lv_button_class)) {
        lv_obj_add_style(obj, &s.btn, 0);
        lv_obj_add_style(obj, &s.bg_color_primary, 0);
        lv_obj_add_style(obj, &s.bg_color_grey, LV_STATE_DISABLED);
        if (lv_obj_check_type(lv_obj_get_parent(obj), &lv_msgbox_footer_class))
            lv_obj_add_style(obj, &s.msgbox_button, 0);
    } else if (lv_obj_check_type(obj, &lv_bar_class)) {
        lv_obj_add_style(obj, &s.bg_color_primary_muted, 0);
        lv_obj_add_style(obj, &s.circle, 0);
        lv_obj_add_style(obj, &s.bg_color_primary, LV_PART_INDICATOR);
        lv_obj_add_style(obj, &s.circle, LV_PART_INDICATOR);
    } else if (lv_obj_check_type(obj, &lv_slider_class)) {
        lv_obj_add_style(obj, &s.bg_color_primary_muted, 0);
        lv_obj_add_style(obj, &s.circle, 0);
        lv_obj_add_style(obj, &s.bg_color_primary, LV_PART_INDICATOR);
        lv_obj_add_style(obj, &s.circle, LV_PART_INDICATOR);
        lv_obj_add_style(obj, &s.knob, LV_PART_KNOB);
    } else if (lv_obj_check_type(obj, &lv_line_class)) {
        lv_obj_add_style(obj, &s.line, 0);
    } else if (lv_obj_check_type(obj, &lv_scale_class)) {
        lv_obj_add_style(obj, &s.scale, 0);
        lv_obj_add_style(obj, &s.scale, LV_PART_INDICATOR);
        lv_obj_add_style(obj, &s.scale_ticks, LV_PART_ITEMS);
    } else if (lv_obj_check_type(obj, &lv_buttonmatrix_class)) {
        lv_obj_add_style(obj, &s.card, 0);
        lv_obj_add_style(obj, &s.pad_small, 0);
        lv_obj_add_style(obj, &s.btn, LV_PART_ITEMS);
        lv_obj_add_style(obj, &s.bg_color_primary, LV_PART_ITEMS | LV_STATE_CHECKED);
    } else if (lv_obj_check_type(obj, &lv_keyboard_class)) {
        lv_obj_add_style(obj, &s.scr, 0);
        lv_obj_add_style(obj, &s.pad_small, 0);
        lv_obj_add_style(obj, &s.pad_gap, 0);
        lv_obj_add_style(obj, &s.btn, LV_PART_ITEMS);
        lv_obj_add_style(obj, &s.keyboard_button_bg, LV_PART_ITEMS);
        lv_obj_add_style(obj, &s.bg_color_primary, LV_PART_ITEMS | LV_STATE_CHECKED);
    } else if (lv_obj_check_type(obj, &lv_msgbox_class)) {
        lv_obj_add_style(obj, &s.card, 0);
        lv_obj_add_style(obj, &s.pad_zero, 0);
    } else if (lv_obj_check_type(obj, &lv_msgbox_header_class) || lv_obj_check_type(obj, &lv_msgbox_content_class)) {
        lv_obj_add_style(obj, &s.msgbox_section, 0);
    } else if (lv_obj_check_type(obj, &lv_msgbox_footer_class)) {
        lv_obj_add_style(obj, &s.msgbox_footer, 0);
    }
}

} // namespace
