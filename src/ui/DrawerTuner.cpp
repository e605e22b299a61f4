#include "ui/DrawerTuner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "effects/Tuner.h"
#include "lvgl.h"
#include "params/NodeEnum.h"
#include "params/NodeOnOff.h"
#include "ui/ScreenFrame.h"
#include "ui/UiFonts.h"

namespace {

constexpr float kSampleRate = 48000.0f;
// Within this many cents the note counts as in tune (green block instead of a red bar).
constexpr float kInTuneCents = 8.0f;

const char* const kNoteLetters[12] = {"C", "C", "D", "D", "E", "F", "F", "G", "G", "A", "A", "B"};
const bool kNoteSharp[12] = {false, true, false, true, false, false, true, false, true, false, true, false};

lv_obj_t* create_text(int x, int y, int w, int h, const lv_font_t* font, const char* text)
{
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, x, y);
    lv_obj_set_size(label, w, h);
    lv_obj_set_style_text_font(label, font, 0);
    lv_label_set_text(label, text);
    return label;
}

void create_deviation_bar(float cents)
{
    lv_obj_t* bar = lv_bar_create(lv_screen_active());
    lv_obj_set_pos(bar, 17, 45);
    lv_obj_set_size(bar, 286, 30);
    lv_bar_set_mode(bar, LV_BAR_MODE_RANGE);
    // 50 is in tune; the range is the default 0..100.
    int value, start;
    uint32_t color;
    if (std::fabs(cents) <= kInTuneCents) {
        value = int(cents + 54.0f);
        start = int(cents + 46.0f);
        color = 0x00FF00;
    } else {
        value = cents > 0 ? int(cents + 50.0f) : 50;
        start = cents < 0 ? int(cents + 50.0f) : 50;
        color = 0xFF0000;
    }
    lv_bar_set_value(bar, value, LV_ANIM_OFF);
    lv_bar_set_start_value(bar, start, LV_ANIM_OFF);
    lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(bar, lv_color_hex(color), LV_PART_INDICATOR);
    lv_obj_set_style_radius(bar, 0, LV_PART_INDICATOR);
    lv_obj_set_style_radius(bar, 3, LV_PART_MAIN);
    lv_obj_set_style_border_post(bar, true, LV_PART_MAIN);
    lv_obj_set_style_bg_opa(bar, LV_OPA_TRANSP, LV_PART_MAIN);
}

void create_cents_scale()
{
    lv_obj_t* scale = lv_scale_create(lv_screen_active());
    lv_obj_set_pos(scale, 18, 73);
    lv_obj_set_size(scale, 284, 40);
    lv_scale_set_mode(scale, LV_SCALE_MODE_HORIZONTAL_BOTTOM);
    lv_scale_set_range(scale, -50, 50);
    lv_scale_set_total_tick_count(scale, 21);
    lv_scale_set_major_tick_every(scale, 5);
    lv_scale_set_label_show(scale, true);
    lv_obj_set_style_length(scale, 5, LV_PART_ITEMS);
    lv_obj_set_style_length(scale, 10, LV_PART_INDICATOR);
}

} // namespace

DrawerTuner::DrawerTuner(Tuner* tuner) : tuner(tuner) {}

bool DrawerTuner::isOn() const
{
    return tuner != nullptr && tuner->getOnOff() != nullptr && tuner->getOnOff()->isValue(NodeOnOff::ON);
}

bool DrawerTuner::draw()
{
    if (tuner == nullptr || (!tuner->isAlwaysShown() && !isOn())) return false;
    create_screen_frame();
    create_screen_title("Tuner");
    create_rule(7, 33, 306);

    const float period = tuner->getPeriod();
    const char* note = period == 0 ? "" : "-";
    bool sharp = false;
    char octave[16] = "", frequency[32] = "---.- Hz", level[32] = "---.- dB";
    if (period > 0) {
        const int index = tuner->getNote();
        if (index >= 0 && index < 12) {
            note = kNoteLetters[index];
            sharp = kNoteSharp[index];
        }
        std::snprintf(octave, sizeof(octave), "%d", tuner->getOctave());
        std::snprintf(frequency, sizeof(frequency), "%.1f Hz", double(kSampleRate / period));
        const float peak = tuner->getLevel();
        if (peak > 0) std::snprintf(level, sizeof(level), "%.0f dB", double(20.0f * std::log10(std::min(peak, 1.0f))));
        else std::snprintf(level, sizeof(level), "-");
    }

    const float cents = tuner->getCents();
    if (period != 0 && std::isfinite(cents)) create_deviation_bar(std::clamp(cents, -600.0f, 600.0f));
    create_cents_scale();

    lv_obj_t* noteLabel = create_text(7, 99, 306, 55, &ui_font_azer60, note);
    lv_obj_set_style_text_align(noteLabel, LV_TEXT_ALIGN_CENTER, 0);
    lv_obj_set_style_radius(noteLabel, 10, 0);
    lv_obj_set_style_text_color(noteLabel, lv_color_hex(0xFAFAFA), 0);
    lv_obj_set_style_pad_bottom(noteLabel, 1, 0);

    create_text(180, 93, LV_SIZE_CONTENT, LV_SIZE_CONTENT, &lv_font_montserrat_26, sharp ? "#" : "");
    create_text(183, 126, LV_SIZE_CONTENT, LV_SIZE_CONTENT, &lv_font_montserrat_26, octave);

    lv_obj_t* levelLabel = create_text(17, 111, 106, 29, &lv_font_montserrat_20, level);
    lv_label_set_long_mode(levelLabel, LV_LABEL_LONG_DOT);
    lv_obj_t* freqLabel = create_text(17, 134, 106, 29, &lv_font_montserrat_20, frequency);
    lv_label_set_long_mode(freqLabel, LV_LABEL_LONG_DOT);
    lv_obj_t* refTitle = create_text(208, 111, 95, 29, &lv_font_montserrat_20, "Freq A4");
    lv_label_set_long_mode(refTitle, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_align(refTitle, LV_TEXT_ALIGN_RIGHT, 0);

    // The reference reads "- 440 +": the encoder steps it.
    lv_obj_t* plus = create_text(218, 134, 85, 29, &lv_font_montserrat_20, LV_SYMBOL_PLUS);
    lv_label_set_long_mode(plus, LV_LABEL_LONG_CLIP);
    lv_obj_set_style_text_align(plus, LV_TEXT_ALIGN_RIGHT, 0);
    const std::string ref = tuner->getRef() ? tuner->getRef()->toString() : std::string();
    lv_obj_t* value = create_text(218, 134, 85, 29, &lv_font_montserrat_20, ref.c_str());
    lv_label_set_long_mode(value, LV_LABEL_LONG_CLIP);
    lv_obj_set_style_text_align(value, LV_TEXT_ALIGN_CENTER, 0);
    lv_obj_t* minus = create_text(218, 134, 50, 29, &lv_font_montserrat_20, LV_SYMBOL_MINUS);
    lv_label_set_long_mode(minus, LV_LABEL_LONG_DOT);
    return true;
}

bool DrawerTuner::onEvent(int code)
{
    using namespace EventCode;
    if (!isOn()) return false;
    switch (code) {
    case MAIN + TURN_UP:
    case MAIN + TURN_DOWN:
        if (tuner->getRef() != nullptr) tuner->getRef()->edit(code == MAIN + TURN_UP);
        return true;
    case MAIN + FOOT_CLICK:
    case MAIN + FOOT_LONG:
    case KNOB1 + FOOT_CLICK:
    case KNOB1 + FOOT_LONG:
    case KNOB2 + FOOT_CLICK:
    case KNOB2 + FOOT_LONG: tuner->getOnOff()->setValue(NodeOnOff::OFF); return true;
    case MAIN + FOOT_PRESS:
    case MAIN + FOOT_LONG_RELEASE:
    case KNOB1 + FOOT_PRESS:
    case KNOB1 + FOOT_LONG_RELEASE:
    case KNOB2 + FOOT_PRESS:
    case KNOB2 + FOOT_LONG_RELEASE: return true;
    default: return false;
    }
}
