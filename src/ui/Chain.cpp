#include "ui/Chain.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "params/Node.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodePreset.h"
#include "ui/DrawerList.h"
#include "ui/DrawerNode.h"
#include "ui/DrawerPopup.h"
#include "ui/DrawerSetup.h"
#include "ui/EventDispatcher.h"
#include "ui/ParamSlider.h"
#include "ui/ScreenFrame.h"

#include "ui/ServiceThreads.h"

namespace {

constexpr int kWhite = 0xFFFFFF;
constexpr int kGrey = 0x777777;
constexpr int kEditedColor = 0xFF8800;
constexpr int kBoxX[4] = {0, 78, 156, 234};

bool is_type(Node* node, const char* type)
{
    return std::strcmp(node->getType(), type) == 0;
}

// The first child of a folder when it is the folder's switch.
Node* switch_of(Node* folder)
{
    Node* first = folder ? folder->childrenAt(0) : nullptr;
    if (first == nullptr || std::strcmp(first->getName(), "on_off") != 0) return nullptr;
    return is_type(first, NodeType::ENUM) ? first : nullptr;
}

lv_obj_t* create_label(lv_obj_t* parent, int x, int y, int w, int h, const lv_font_t* font, int color, const char* text)
{
    lv_obj_t* label = lv_label_create(parent);
    lv_obj_set_pos(label, x, y);
    lv_obj_set_size(label, w, h);
    lv_label_set_long_mode(label, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(label, font, 0);
    lv_obj_set_style_text_color(label, lv_color_hex(color), 0);
    lv_label_set_text(label, text);
    return label;
}

} // namespace

Chain::Chain(Node* app, Node* root, NodePreset* preset, NodeFloat* level, NodeFloat* volume,
             std::vector<NodeItem*> assigns)
    : app(app), root(root), preset(preset), volume(volume), level(level), assigns(std::move(assigns))
{
    findBlocks();
}

void Chain::findBlocks()
{
    blocks.clear();
    enables.clear();
    masterFolder = nullptr;
    if (app == nullptr) return;
    for (Node* child : app->getChildren()) {
        if (!is_type(child, NodeType::ITEM)) continue;
        if (std::strcmp(static_cast<NodeItem*>(child)->getItemType(), ItemType::HFOLDER) != 0) continue;
        Node* enable = switch_of(child);
        if (enable != nullptr) {
            blocks.push_back(child);
            enables.push_back(static_cast<NodeEnum*>(enable));
        } else {
            masterFolder = child;
        }
    }
}

void Chain::setNodes(Node* newApp, Node* newRoot, NodePreset* newPreset)
{
    app = newApp;
    root = newRoot;
    preset = newPreset;
    cursor = -1;
    findBlocks();
}

bool Chain::isEnabled(Node* block)
{
    Node* enable = switch_of(block);
    return enable != nullptr && enable->toString() == "ON";
}

void Chain::createBlock(lv_obj_t* parent, int x, int y, int color, const char* name, bool selected, const char* text)
{
    // The points of a line must outlive it.
    static lv_point_precise_t connector[2] = {{0, 0}, {95, 0}};
    lv_obj_t* line = lv_line_create(parent);
    lv_line_set_points(line, connector, 2);
    lv_obj_set_pos(line, x - 20, y + 30);

    lv_obj_t* box = lv_button_create(parent);
    lv_obj_set_pos(box, x, y);
    lv_obj_set_size(box, 55, 55);
    lv_obj_set_style_border_color(box, lv_color_white(), 0);
    lv_obj_set_style_border_width(box, 1, 0);
    lv_obj_set_style_radius(box, 5, 0);
    lv_obj_set_style_bg_color(box, lv_color_hex(uint32_t(color)), 0);
    if (selected) {
        lv_obj_set_style_shadow_width(box, 1, 0);
        lv_obj_set_style_shadow_color(box, lv_color_white(), 0);
        lv_obj_set_style_shadow_spread(box, 3, 0);
    }
    // Dark boxes (switched-off blocks) get light text.
    const bool light = (color & 0xE0E0E0) != 0;
    lv_obj_t* title = lv_label_create(box);
    lv_label_set_text(title, name ? name : "");
    lv_obj_set_style_text_color(title, lv_color_hex(light ? 0x000000 : kGrey), 0);
    lv_obj_center(title);

    lv_obj_t* knob = lv_label_create(box);
    lv_label_set_text(knob, text ? text : "");
    lv_obj_set_style_text_color(knob, lv_color_hex(light ? 0x000000 : kWhite), 0);
    lv_obj_align(knob, LV_ALIGN_CENTER, 18, 15);
}

std::vector<Node*> Chain::getFastNodes(Node* block)
{
    std::vector<Node*> nodes;
    if (block == nullptr) return nodes;
    bool first = true;
    for (Node* child : block->getChildren()) {
        const bool skip = first && std::strcmp(child->getName(), "on_off") == 0;
        first = false;
        if (skip) continue;
        if (!is_type(child, NodeType::ITEM)) {
            if (child->getStyleVisible()) nodes.push_back(child);
            continue;
        }
        // A sub-folder: its parameters, but not those of a tempo link.
        if (child->toString() == "partempo") continue;
        bool firstInner = true;
        for (Node* inner : child->getChildren()) {
            const bool skipInner = firstInner && std::strcmp(inner->getName(), "on_off") == 0;
            firstInner = false;
            if (skipInner) continue;
            if (!is_type(inner, NodeType::ITEM) && child->getStyleVisible()) nodes.push_back(inner);
        }
    }
    return nodes;
}

Node* Chain::blockAtCursor() const
{
    return cursor >= 0 && cursor < int(blocks.size()) ? blocks[cursor] : nullptr;
}

void Chain::assignCursor(int k)
{
    Node* block = blockAtCursor();
    if (block == nullptr || k < 0 || k >= int(assigns.size()) || assigns[k] == nullptr) return;
    const std::string path = block->getPath();
    for (int i = 0; i < int(assigns.size()); i++)
        if (i != k && assigns[i] != nullptr && assigns[i]->getText() == path) assigns[i]->setValue("");
    assigns[k]->setValue(path);
}

int Chain::knobOf(Node* block) const
{
    const std::string path = block->getPath();
    int knob = 0;
    for (int i = 0; i < int(assigns.size()); i++)
        if (assigns[i] != nullptr && assigns[i]->getText() == path) knob = i + 1;
    return knob;
}

std::string Chain::presetNumber(NodePreset* preset)
{
    const int index = preset ? preset->getIndex() : -1;
    char text[16];
    if (index < 0) std::snprintf(text, sizeof(text), "00-");
    else std::snprintf(text, sizeof(text), "%02d%c", index / 3 + 1, 'A' + index % 3);
    return text;
}

void Chain::stepPreset(NodePreset* preset, bool up)
{
    if (preset == nullptr) return;
    if (!preset->isEdited()) {
        if (preset->canEdit(up)) preset->edit(up);
        return;
    }
    int result = 0;
    new DrawerPopup("Discard changes?", "", 2, &result);
    waitModal();
    if (result == 1) preset->edit(up);
    else if (result == 2) preset->setValue(preset->getValue() + PRESET_SAVE_SUFFIX);
}

bool Chain::draw()
{
    lv_obj_t* screen = lv_screen_active();
    create_screen_frame();
    create_rule(7, 33, 306);

    const bool edited = preset != nullptr && preset->isEdited();
    if (edited) {
        lv_obj_t* mark = create_label(screen, 290, 9, 23, 29, &lv_font_montserrat_18, kEditedColor, LV_SYMBOL_WARNING);
        (void)mark;
    }
    const std::string name = preset ? preset->getValue() : std::string();
    create_label(screen, 7, 6, edited ? 276 : 304, 29, &lv_font_montserrat_24, cursor <= -1 ? kWhite : kGrey,
                 name.c_str());

    lv_obj_t* row = lv_obj_create(screen);
    lv_obj_set_pos(row, 7, 35);
    lv_obj_set_size(row, 306, 110);
    lv_obj_set_style_pad_all(row, 0, 0);
    lv_obj_set_style_bg_opa(row, LV_OPA_TRANSP, 0);
    lv_obj_set_style_border_width(row, 0, 0);
    lv_obj_set_style_radius(row, 0, 0);
    lv_obj_remove_flag(row, LV_OBJ_FLAG_SCROLLABLE);
    for (int i = 0; i < int(blocks.size()); i++) {
        Node* block = blocks[i];
        int color = int(block->getStyleColor() & 0xFFFFFF);
        // A switched-off block: its colour at an eighth of the brightness.
        if (!(enables[i] != nullptr && enables[i]->toString() == "ON")) color = (color >> 3) & 0x1F1F1F;
        const int knob = knobOf(block);
        const std::string text = knob > 0 ? std::to_string(knob) : std::string();
        createBlock(row, 20 + 75 * i, 20, color, block->getDisplayName(), i == cursor, text.c_str());
    }
    lv_obj_scroll_to_x(row, cursor * 55, LV_ANIM_OFF);

    Node* block = blockAtCursor();
    if (block != nullptr) {
        std::vector<Node*> fast = getFastNodes(block);
        const int color = int(block->getStyleColor() & 0xFFFFFF);
        for (int k = 0; k < 4; k++)
            create_param_slider(screen, kBoxX[k], k < int(fast.size()) ? fast[k] : nullptr, color, nullptr, nullptr);
    } else {
        const std::string number = presetNumber(preset);
        create_param_slider(screen, kBoxX[0], nullptr, kWhite, "Preset", number.c_str());
        create_param_slider(screen, kBoxX[1], nullptr, kWhite, "List", "Edit...");
        create_param_slider(screen, kBoxX[2], level, kWhite, nullptr, nullptr);
        create_param_slider(screen, kBoxX[3], volume, kWhite, nullptr, nullptr);
    }
    return true;
}

void Chain::editFast(int index, bool up)
{
    std::vector<Node*> fast = getFastNodes(blockAtCursor());
    if (index < int(fast.size()) && fast[index] != nullptr) fast[index]->edit(up);
}

bool Chain::onEvent(int code)
{
    using namespace EventCode;
    Node* block = blockAtCursor();
    switch (code) {
    case INACTIVITY: EventDispatcher::addEvent(CLOSE); return false;
    case MAIN + TURN_UP:
        if (cursor < int(blocks.size()) - 1) cursor++;
        return true;
    case MAIN + TURN_DOWN:
        if (cursor >= 0) cursor--;
        return true;
    case MAIN + PUSH_CLICK:
        if (block != nullptr) new DrawerNode(block);
        else if (masterFolder != nullptr) new DrawerNode(masterFolder);
        return true;
    case MAIN + PUSH_LONG:
        if (block != nullptr) {
            if (enables[cursor] != nullptr) enables[cursor]->toggle();
        } else {
            new DrawerSetup();
        }
        return true;
    case KNOB1 + TURN_UP:
    case KNOB1 + TURN_DOWN:
        if (block != nullptr) editFast(0, code == KNOB1 + TURN_UP);
        else stepPreset(preset, code == KNOB1 + TURN_UP);
        return true;
    case KNOB1 + PUSH_CLICK: EventDispatcher::addEvent(CLOSE); return true;
    case KNOB1 + PUSH_LONG: assignCursor(0); return true;
    case KNOB2 + PUSH_LONG: assignCursor(1); return true;
    case KNOB3 + PUSH_LONG: assignCursor(2); return true;
    case KNOB4 + PUSH_LONG: assignCursor(3); return true;
    case KNOB2 + TURN_UP:
    case KNOB2 + TURN_DOWN:
        if (block != nullptr) editFast(1, code == KNOB2 + TURN_UP);
        return true;
    case KNOB2 + PUSH_CLICK:
        if (block == nullptr && preset != nullptr) new DrawerList(preset);
        return true;
    case KNOB3 + TURN_UP:
    case KNOB3 + TURN_DOWN:
        if (block != nullptr) editFast(2, code == KNOB3 + TURN_UP);
        else if (level != nullptr) level->edit(code == KNOB3 + TURN_UP);
        return true;
    case KNOB4 + TURN_UP:
    case KNOB4 + TURN_DOWN:
        if (block != nullptr) editFast(3, code == KNOB4 + TURN_UP);
        else if (volume != nullptr) volume->edit(code == KNOB4 + TURN_UP);
        return true;
    default: return false;
    }
}
