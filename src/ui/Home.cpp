#include "ui/Home.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/AudioProcessor.h"
#include "driver/IOArray.h"
#include "effects/Tempo.h"
#include "effects/Tuner.h"
#include "lvgl.h"
#include "params/Node.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"
#include "porting/Clock.h"
#include "ui/Chain.h"
#include "ui/DrawerKeyboard.h"
#include "ui/DrawerPopup.h"
#include "ui/EventDispatcher.h"
#include "ui/ParamSlider.h"
#include "ui/ScreenFrame.h"
#include "ui/UiFonts.h"

#include "ui/ServiceThreads.h"

namespace {

constexpr int kWhite = 0xFFFFFF;
constexpr int kBoxX[4] = {0, 78, 156, 234};
// Panel input bits that light the volume bar.
constexpr int kVolumeBits[2] = {1, 2};

lv_obj_t* create_label(int x, int y, int w, int h, const lv_font_t* font, const char* text)
{
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, x, y);
    lv_obj_set_size(label, w, h);
    lv_label_set_long_mode(label, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(label, font, 0);
    lv_label_set_text(label, text);
    return label;
}

// A bar with a white 1-px outline above a flat indicator.
lv_obj_t* create_outlined_bar(int x, int y, int w, int h, int value, int color)
{
    lv_obj_t* bar = lv_bar_create(lv_screen_active());
    lv_obj_set_pos(bar, x, y);
    lv_obj_set_size(bar, w, h);
    lv_bar_set_range(bar, 0, 100);
    lv_bar_set_value(bar, value, LV_ANIM_OFF);
    lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(bar, lv_color_hex(uint32_t(color)), LV_PART_INDICATOR);
    lv_obj_set_style_radius(bar, 0, LV_PART_INDICATOR);
    lv_obj_set_style_border_color(bar, lv_color_white(), LV_PART_MAIN);
    lv_obj_set_style_border_width(bar, 1, LV_PART_MAIN);
    lv_obj_set_style_bg_opa(bar, LV_OPA_TRANSP, LV_PART_MAIN);
    lv_obj_set_style_radius(bar, 5, LV_PART_MAIN);
    lv_obj_set_style_border_post(bar, true, LV_PART_MAIN);
    return bar;
}

int slider_percent(NodeFloat* node)
{
    return node ? int(node->toSlider() * 100.0f) : 0;
}

} // namespace

Home::Home(Node* app, Node* root, NodePreset* preset, Tuner* tuner, Tempo* tempo, std::vector<NodeItem*> assigns)
    : app(app), root(root), preset(preset), tuner(tuner), tempo(tempo), assigns(std::move(assigns))
{}

void Home::setControls(NodeFloat* knob1, NodeFloat* knob2, NodeFloat* knob3, NodeFloat* knob4)
{
    controls[0] = knob1;
    controls[1] = knob2;
    controls[2] = knob3;
    controls[3] = knob4;
}

void Home::setNodes(Node* newApp, Node* newRoot, NodePreset* newPreset)
{
    app = newApp;
    root = newRoot;
    preset = newPreset;
}

int Home::presetIndex() const
{
    return preset ? preset->getIndex() : -1;
}

void Home::editParam(NodeFloat* node, bool up, int color)
{
    editNode = node;
    if (node == nullptr) return;
    node->edit(up);
    editTicks = kEditTicks;
    editColor = color;
}

void Home::showAssign(int k)
{
    if (k == -1) {
        assignedBlock = nullptr;
        fastNodes.clear();
        return;
    }
    if (k < 0 || k >= int(assigns.size())) return;
    const std::string path = assigns[k] ? assigns[k]->getText() : std::string();
    assignedBlock = (app != nullptr && !path.empty()) ? app->pathToNode(path) : nullptr;
    fastNodes = Chain::getFastNodes(assignedBlock);
    assignTicks = kAssignTicks;
}

void Home::editAssign(int k, bool up)
{
    if (k < 0 || k >= int(fastNodes.size()) || fastNodes[k] == nullptr) return;
    Node* node = fastNodes[k];
    if (std::string(node->getType()) == NodeType::FLOAT) {
        editNode = node;
        node->edit(up);
        editTicks = kEditTicks;
        editColor = 0;
    } else {
        node->edit(up);
    }
    assignTicks = kAssignTicks;
}

bool Home::draw()
{
    apply_default_theme();
    if (editNode != nullptr && editTicks > 0) {
        drawEditOverlay();
        return true;
    }

    lv_obj_t* screen = lv_screen_active();
    create_screen_frame();
    create_rule(7, 33, 306);

    const bool edited = preset != nullptr && preset->isEdited();
    if (edited) {
        lv_obj_t* mark = create_label(217, 9, 23, 29, &lv_font_montserrat_18, LV_SYMBOL_WARNING);
        lv_obj_set_style_text_color(mark, lv_color_hex(0xFF8800), 0);
    }
    const std::string name = preset ? preset->getValue() : std::string();
    lv_obj_t* title = create_label(7, 6, edited ? 203 : 231, 29, &lv_font_montserrat_24, name.c_str());
    lv_obj_set_style_text_color(title, lv_color_white(), 0);

    drawPresetNumber();
    drawTempo();

    if (assignedBlock != nullptr) {
        const int color = int(assignedBlock->getStyleColor() & 0xFFFFFF);
        Chain::createBlock(screen, 238, 58, color, assignedBlock->getDisplayName(), false, "");
        for (int k = 0; k < 4; k++)
            create_param_slider(screen, kBoxX[k], k < int(fastNodes.size()) ? fastNodes[k] : nullptr, color, nullptr,
                                nullptr);
        return true;
    }

    for (int k = 0; k < 4; k++) create_param_slider(screen, kBoxX[k], controls[k], kWhite, nullptr, nullptr);
    drawMeters();
    return true;
}

void Home::drawEditOverlay()
{
    const int color = editColor != 0 ? editColor : get_param_color(editNode);
    int value = 0;
    if (std::string(editNode->getType()) == NodeType::FLOAT) value = slider_percent(static_cast<NodeFloat*>(editNode));
    create_outlined_bar(25, 76, 270, 30, value, color);

    lv_obj_t* name = create_label(25, 51, 270, 29, &lv_font_montserrat_20, editNode->getDisplayName());
    lv_obj_set_style_text_align(name, LV_TEXT_ALIGN_LEFT, 0);
    lv_obj_t* text = create_label(25, 51, 270, 29, &lv_font_montserrat_20, editNode->toString().c_str());
    lv_obj_set_style_text_align(text, LV_TEXT_ALIGN_RIGHT, 0);
}

void Home::drawPresetNumber()
{
    char text[16] = "---";
    if (preset != nullptr) {
        const int index = presetIndex();
        if (bankCursor >= 0) {
            // The browsed bank blinks its dash every 400 ms.
            const bool dash = (esp_timer_get_time() / 400000) % 2 == 1;
            std::snprintf(text, sizeof(text), "%02d%c", bankCursor + 1, dash ? '-' : ' ');
        } else if (index >= 0) {
            std::snprintf(text, sizeof(text), "%02d%c", index / 3 + 1, 'A' + index % 3);
        }
    }
    lv_obj_t* label = create_label(5, 37, 209, 84, &ui_font_arzet_light102, text);
    lv_label_set_long_mode(label, LV_LABEL_LONG_WRAP);
    lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_LEFT, 0);
    lv_obj_set_style_radius(label, 10, 0);
    lv_obj_set_style_text_color(label, lv_color_hex(0xFAFAFA), 0);
    lv_obj_set_style_text_letter_space(label, -4, 0);
    lv_obj_set_style_pad_bottom(label, 1, 0);
}

void Home::drawTempo()
{
    if (tempo == nullptr) return;
    // Always three integer digits: "95.5" shows as "095.5". One label, right-aligned: the point sits
    // against its digits, and stays in place as the tempo changes since this font's digits are all
    // one width.
    std::string text = tempo->toString();
    size_t dot = text.find('.');
    std::string whole = dot == std::string::npos ? text : text.substr(0, dot);
    std::string fraction = dot == std::string::npos || dot + 1 >= text.size() ? "0" : text.substr(dot + 1, 1);
    if (whole.size() < 3) whole = std::string(3 - whole.size(), '0') + whole;

    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, 229, 8);
    lv_obj_set_size(label, 83, LV_SIZE_CONTENT);
    lv_obj_set_style_text_font(label, &ui_font_arzet24, 0);
    lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_RIGHT, 0);
    lv_label_set_text(label, (whole + "." + fraction).c_str());
}

void Home::drawMeters()
{
    for (const char* text : {"in", "out"}) {
        lv_obj_t* label = create_label(209, text[0] == 'i' ? 77 : 102, 26, 16, &lv_font_montserrat_14, text);
        lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_RIGHT, 0);
    }

    const bool lit = IOArray::get_bit(kVolumeBits[0]) != 0 || IOArray::get_bit(kVolumeBits[1]) != 0;
    create_outlined_bar(241, 48, 72, 17, slider_percent(volumeNode), lit ? kWhite : 0x777777);
    lv_obj_t* vol = create_label(204, 49, 31, 16, &lv_font_montserrat_14, "Vol");
    lv_obj_set_style_text_align(vol, LV_TEXT_ALIGN_RIGHT, 0);

    const struct {
        int y, channel, io;
    } meters[4] = {{75, 1, 1}, {84, 0, 1}, {101, 1, 0}, {110, 0, 0}};
    for (const auto& m : meters) {
        // -110 dB empty, 0 dB full.
        const float db = AudioProcessor::meter(m.channel, m.io);
        const int value = std::clamp(int((db + 110.0f) * 0.9090909f), 0, 100);
        const bool clipped = AudioProcessor::channelSaturation(m.channel, m.io);
        lv_obj_t* bar = lv_bar_create(lv_screen_active());
        lv_obj_set_pos(bar, 241, m.y);
        lv_obj_set_size(bar, 72, 9);
        lv_bar_set_range(bar, 0, 100);
        lv_bar_set_value(bar, value, LV_ANIM_OFF);
        lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_INDICATOR);
        lv_obj_set_style_bg_color(bar, lv_color_hex(clipped ? 0xFF0000 : 0x999999), LV_PART_INDICATOR);
        lv_obj_set_style_border_color(bar, lv_color_white(), LV_PART_MAIN);
        lv_obj_set_style_border_width(bar, 1, LV_PART_MAIN);
        lv_obj_set_style_border_side(bar, lv_border_side_t(LV_BORDER_SIDE_BOTTOM | LV_BORDER_SIDE_LEFT), LV_PART_MAIN);
        lv_obj_set_style_radius(bar, 1, LV_PART_MAIN);
    }
}

bool Home::onEvent(int code)
{
    using namespace EventCode;
    if (code < MAIN) return false;
    switch (code) {
    case MAIN + TURN_UP:
    case MAIN + TURN_DOWN: mainTurn(code == MAIN + TURN_UP); return true;
    case MAIN + PUSH_PRESS: pushState = 1; return true;
    case MAIN + PUSH_CLICK:
        if (pushState != 2 && app != nullptr) new Chain(app, root, preset, levelNode, volumeNode, assigns);
        pushState = 0;
        return true;
    case MAIN + PUSH_LONG_RELEASE: pushState = 0; return true;
    case MAIN + FOOT_PRESS: footPress(0); return true;
    case KNOB1 + FOOT_PRESS: footPress(1); return true;
    case KNOB2 + FOOT_PRESS: footPress(2); return true;
    case MAIN + FOOT_CLICK: footClick(0); return true;
    case KNOB1 + FOOT_CLICK: footClick(1); return true;
    case KNOB2 + FOOT_CLICK: footClick(2); return true;
    case KNOB2 + FOOT_LONG:
        if (tuner != nullptr && tuner->getOnOff() != nullptr) tuner->getOnOff()->setValue(NodeOnOff::ON);
        return true;
    case TICK:
        if (assignTicks > 0 && --assignTicks == 0) showAssign(-1);
        if (editTicks > 0) editTicks--;
        if (bankTicks < 1) bankCursor = -1;
        else bankTicks--;
        return true;
    case PAIR_AB: browseBank(-1); return true;
    case PAIR_BC: browseBank(1); return true;
    case KNOB1 + TURN_UP:
    case KNOB1 + TURN_DOWN: knobTurn(0, code == KNOB1 + TURN_UP); return true;
    case KNOB2 + TURN_UP:
    case KNOB2 + TURN_DOWN: knobTurn(1, code == KNOB2 + TURN_UP); return true;
    case KNOB3 + TURN_UP:
    case KNOB3 + TURN_DOWN: knobTurn(2, code == KNOB3 + TURN_UP); return true;
    case KNOB4 + TURN_UP:
    case KNOB4 + TURN_DOWN: knobTurn(3, code == KNOB4 + TURN_UP); return true;
    case KNOB1 + PUSH_CLICK: showAssign(0); return true;
    case KNOB2 + PUSH_CLICK: showAssign(1); return true;
    case KNOB3 + PUSH_CLICK: showAssign(2); return true;
    case KNOB4 + PUSH_CLICK: showAssign(3); return true;
    case KNOB1 + PUSH_LONG: overwrite(); return true;
    case KNOB2 + PUSH_LONG: saveAs(); return true;
    default: return false;
    }
}

void Home::mainTurn(bool up)
{
    if (pushState == 0) {
        editParam(volumeNode, up, kWhite);
        return;
    }
    pushState = 2;
    if (preset == nullptr) return;
    // Asking first resets the push: the popup takes the click that follows.
    if (preset->isEdited()) pushState = 0;
    Chain::stepPreset(preset, up);
}

void Home::footPress(int position)
{
    if (tempo != nullptr && presetIndex() >= 0 && presetIndex() % 3 == position) tempo->manualTap();
}

void Home::footClick(int position)
{
    if (preset == nullptr) return;
    // A tap run sets the tempo: its clicks select nothing.
    if (tempo != nullptr && tempo->manualStatus()) return;
    const int index = presetIndex();
    if (bankCursor < 0) {
        if (index >= 0 && index % 3 == position) return;
        preset->setByIndex(std::max(index, 0) / 3 * 3 + position);
        return;
    }
    if (preset->setByIndex(bankCursor * 3 + position)) bankCursor = -1;
}

void Home::browseBank(int step)
{
    if (preset == nullptr) return;
    if (tempo != nullptr && tempo->manualStatus()) return;
    const int index = presetIndex();
    int bank = (bankCursor >= 0 ? bankCursor : index / 3) + step;
    NodeList* list = preset->getReferenceList();
    const int last = list ? list->getLastIndex() : -1;
    if (step > 0) bank = std::min(bank, last / 3);
    bankCursor = std::max(bank, 0);
    bankTicks = kBankTicks;
}

void Home::knobTurn(int k, bool up)
{
    if (assignedBlock != nullptr) {
        editAssign(k, up);
        return;
    }
    if (controls[k] != nullptr) editParam(controls[k], up, kWhite);
}

void Home::save(const std::string& name)
{
    preset->setValue(name + PRESET_SAVE_SUFFIX);
}

void Home::overwrite()
{
    if (preset == nullptr || !preset->isEdited()) return;
    int result = 0;
    new DrawerPopup("Overwrite changes?", "", 1, &result);
    waitModal();
    if (result == 1) save(preset->getValue());
}

void Home::saveAs()
{
    if (preset == nullptr) return;
    const std::string current = preset->getValue();
    std::string name = current;
    // A name that would store nothing keeps the keyboard open, with the reason, rather than return
    // as if saved. The empty name (nothing) and the current one (overwrite) are answered below.
    (new DrawerKeyboard("Save as...", &name, ""))->setCheck([this, current](const std::string& text) {
        const char* refusal = text.empty() || text == current ? nullptr : preset->saveRefusal(text);
        return std::string(refusal ? refusal : "");
    });
    waitModal();
    if (name.empty()) return;
    if (name == current) {
        int result = 0;
        new DrawerPopup("Overwrite changes?", "", 1, &result);
        waitModal();
        if (result == 1) save(current);
        return;
    }
    save(name);
    // Only a name the list kept is selected; a refused one leaves the selection as it was.
    if (preset->getValue() == name) preset->select(name);
}
