#include "ui/ParamSlider.h"

#include <cstring>

#include "params/Node.h"
#include "params/NodeFloat.h"
#include "ui/DrawerRows.h"

namespace {

// Clears the top bit of each colour byte: a switched-off block's colour at half brightness.
constexpr int kDimMask = 0x7F7F7F;
constexpr int kWhite = 0xFFFFFF;

// Geometry of a box, relative to its x.
constexpr int kBarX = 7, kBarY = 146, kBarW = 72, kBarH = 17;
constexpr int kValueX = 6, kValueY = 148, kValueW = 74, kValueH = 16;
constexpr int kTitleX = 7, kTitleY = 129, kTitleW = 72, kTitleH = 16;

bool is_type(Node* node, const char* type)
{
    return std::strcmp(node->getType(), type) == 0;
}

// A block is switched off when its first child is its "on_off" switch at "OFF". A missing folder
// (the parent of a node under the root, or of the root itself) is never switched off.
bool is_switched_off(Node* folder)
{
    if (folder == nullptr) return false;
    Node* first = folder->childrenAt(0);
    if (first == nullptr || std::strcmp(first->getName(), "on_off") != 0) return false;
    return is_type(first, NodeType::ENUM) && first->toString() == "OFF";
}

lv_obj_t* create_bar(lv_obj_t* parent, int x, int color, int value, bool topBorderOnly)
{
    lv_obj_t* bar = lv_bar_create(parent);
    lv_obj_set_pos(bar, x + kBarX, kBarY);
    lv_obj_set_size(bar, kBarW, kBarH);
    lv_bar_set_range(bar, 0, 100);
    lv_bar_set_value(bar, value, LV_ANIM_OFF);
    lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(bar, lv_color_hex(color), LV_PART_INDICATOR);
    lv_obj_set_style_radius(bar, 0, LV_PART_INDICATOR);
    lv_obj_set_style_border_color(bar, lv_color_white(), LV_PART_MAIN);
    lv_obj_set_style_border_width(bar, 1, LV_PART_MAIN);
    lv_obj_set_style_bg_opa(bar, LV_OPA_TRANSP, LV_PART_MAIN);
    lv_obj_set_style_radius(bar, 5, LV_PART_MAIN);
    lv_obj_set_style_border_post(bar, true, LV_PART_MAIN);
    // Without a filled bar only a line above the value text remains.
    if (topBorderOnly) lv_obj_set_style_border_side(bar, LV_BORDER_SIDE_TOP, LV_PART_MAIN);
    return bar;
}

lv_obj_t* create_text(lv_obj_t* parent, int x, int y, int w, int h, const char* text)
{
    lv_obj_t* label = lv_label_create(parent);
    lv_obj_set_pos(label, x, y);
    lv_obj_set_size(label, w, h);
    lv_label_set_long_mode(label, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_text(label, text);
    return label;
}

// The float's slider position as the bar's 0..100, truncated; an inverted float fills from the
// other end.
int float_bar_value(NodeFloat* node)
{
    float position = node->toSlider();
    if (node->isInverted()) position = 1.0f - position;
    return static_cast<int>(position * 100.0f);
}

} // namespace

int get_param_color(Node* node)
{
    Node* parent = node ? node->getParent() : nullptr;
    int color = parent ? static_cast<int>(parent->getStyleColor() & 0xFFFFFF) : 0;
    if (color == 0) color = kWhite;
    if (is_switched_off(parent)) color &= kDimMask;
    return color;
}

void create_param_slider(lv_obj_t* parent, int x, Node* node, int color, const char* title, const char* text)
{
    if (parent == nullptr) return;
    if (node == nullptr) {
        if (title == nullptr || text == nullptr) return;
        create_bar(parent, x, color, 0, false);
        create_text(parent, x + kValueX, kValueY, kValueW, kValueH, text);
        create_text(parent, x + kTitleX, kTitleY, kTitleW, kTitleH, title);
        return;
    }

    Node* block = node->getParent();
    Node* outer = block ? block->getParent() : nullptr;
    if (is_switched_off(block)) color &= kDimMask;
    if (is_switched_off(outer)) color &= kDimMask;

    bool isFloat = is_type(node, NodeType::FLOAT);
    bool isChoice = is_type(node, NodeType::ENUM) || is_type(node, NodeType::PLIST);
    if (isFloat || isChoice) {
        int value = isFloat ? float_bar_value(static_cast<NodeFloat*>(node)) : 0;
        create_bar(parent, x, color, value, !isFloat);
    }
    if (isChoice) create_text(parent, x + kValueX, kValueY, kValueW, kValueH, shown_value(node).c_str());
    create_text(parent, x + kTitleX, kTitleY, kTitleW, kTitleH, node->getDisplayName());
}
