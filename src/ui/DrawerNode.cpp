#include "ui/DrawerNode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/System.h"
#include "lvgl.h"
#include "params/Node.h"
#include "params/NodeArray.h"
#include "params/NodeColor.h"
#include "params/NodeItem.h"
#include "params/NodeParList.h"
#include "params/NodePassword.h"
#include "ui/DrawerArray.h"
#include "ui/DrawerKeyboard.h"
#include "ui/DrawerList.h"
#include "ui/DrawerPopup.h"
#include "ui/DrawerRows.h"
#include "ui/DrawerSetup.h"
#include "ui/EventDispatcher.h"
#include "ui/Glcd.h"
#include "ui/ImgHue.h"

#include "ui/ServiceThreads.h"

namespace {

bool is_type(Node* node, const char* type)
{
    return std::strcmp(node->getType(), type) == 0;
}

bool is_item_of(Node* node, const char* itemType)
{
    return is_type(node, NodeType::ITEM) && std::strcmp(static_cast<NodeItem*>(node)->getItemType(), itemType) == 0;
}

// The action type of an "action" node, read from its description members (,"action_type":"smp").
std::string action_type(Node* node)
{
    static constexpr const char* kKey = "\"action_type\":\"";
    std::string description = node->getDescription();
    size_t start = description.find(kKey);
    if (start == std::string::npos) return "";
    start += std::strlen(kKey);
    size_t end = description.find('"', start);
    return end == std::string::npos ? "" : description.substr(start, end - start);
}

// A hue strip with a knob in the item's own colour.
void create_hue_slider(Node* child, int x, int y)
{
    auto* color = dynamic_cast<NodeColor*>(child);
    lv_obj_t* slider = lv_slider_create(lv_screen_active());
    lv_obj_set_pos(slider, x, y);
    lv_obj_set_size(slider, 90, 10);
    // Degrees 0..360 onto the slider's 0..100.
    lv_slider_set_value(slider, color ? int(color->getHue() * 0.2777778f) : 0, LV_ANIM_OFF);
    lv_obj_set_style_bg_image_src(slider, &img_hue_10, LV_PART_MAIN);
    lv_obj_set_style_bg_image_tiled(slider, true, LV_PART_MAIN);
    lv_obj_set_style_bg_image_recolor_opa(slider, 8, LV_PART_MAIN);
    lv_obj_set_style_bg_opa(slider, LV_OPA_TRANSP, LV_PART_INDICATOR);
    std::string rgb = static_cast<NodeItem*>(child)->getValue();
    lv_obj_set_style_bg_color(slider, lv_color_hex(uint32_t(std::strtol(rgb.c_str(), nullptr, 16))), LV_PART_KNOB);
}

} // namespace

DrawerNode::DrawerNode(Node* node) : node(node) {}

void DrawerNode::setNode(Node* newNode)
{
    node = newNode;
    cursor = 0;
    tickCount = 0;
    scrollTop = 0;
    editNode = nullptr;
}

int DrawerNode::itemCount()
{
    int visible = node ? node->childrenCount(true) : 0;
    return visible + (EventDispatcher::elements() >= 2 ? 1 : 0);
}

bool DrawerNode::draw()
{
    if (node == nullptr) return true;
    // A node without children has nothing to list: only its name, in the monochrome buffer.
    if (node->isLeaf()) {
        glcd_drawStringFont(1, 1, node->getDisplayName(), glcd_font_small, 1);
        return true;
    }

    // The cursor follows the edited node when rows above it appear or vanish meanwhile.
    int k = (editNode != nullptr && editNode->getStyleVisible()) ? node->childIndex(editNode, true) : -1;
    if (k >= 0 && k != cursor) {
        scrollTop += k - cursor;
        cursor = k;
    }

    const int rows = itemCount();
    if (cursor >= rows) cursor = rows - 1;
    if (scrollTop + kRowsShown - 1 >= rows) scrollTop = std::max(rows, kRowsShown) - kRowsShown;
    // Keep the cursor's row inside the window and the window inside the list.
    if (cursor >= 0 && cursor < scrollTop) scrollTop = cursor;
    if (cursor >= scrollTop + kRowsShown) scrollTop = cursor - kRowsShown + 1;
    if (scrollTop < 0) scrollTop = 0;

    const bool scrollbar = rows > kRowsShown;
    const int width = rows_width(rows);
    const int valueRight = scrollbar ? 299 : 313;
    const int boxX = scrollbar ? 189 : 203;
    const int sliderX = scrollbar ? 199 : 213;

    create_rows_frame(node->getDisplayName());
    if (scrollbar) create_rows_scrollbar(rows, scrollTop);
    if (rows < 1) return true;

    for (int i = 0; i < kRowsShown && i < rows; i++) {
        const int n = scrollTop + i;
        drawRow(node->childrenAt(n, true), 39 + kRowHeight * i, n == cursor, width, valueRight, boxX, sliderX);
    }
    return true;
}

void DrawerNode::drawRow(Node* child, int y, bool selected, int width, int valueRight, int boxX, int sliderX)
{
    if (child != nullptr && child == editNode) {
        create_row_text(8, y + 1, 240, 20, child->getDisplayName(), 0xFFFFFF);
        if (is_item_of(child, ItemType::COLOR)) {
            lv_obj_t* box = lv_label_create(lv_screen_active());
            lv_obj_set_pos(box, boxX, y);
            lv_obj_set_size(box, 110, 25);
            lv_label_set_text(box, "");
            lv_obj_set_style_bg_color(box, lv_color_white(), 0);
            lv_obj_set_style_bg_opa(box, LV_OPA_COVER, 0);
            create_hue_slider(child, sliderX, y + 7);
            return;
        }
        // The value in an inverted box whose right edge is the end of the rows.
        lv_obj_t* value = lv_label_create(lv_screen_active());
        lv_obj_align(value, LV_ALIGN_TOP_RIGHT, valueRight - 320, y);
        lv_obj_set_size(value, LV_SIZE_CONTENT, 25);
        lv_obj_set_style_text_font(value, &lv_font_montserrat_20, 0);
        lv_obj_set_style_pad_top(value, 1, 0);
        lv_obj_set_style_pad_left(value, 4, 0);
        lv_obj_set_style_pad_right(value, 4, 0);
        lv_obj_set_style_bg_color(value, selected ? lv_color_white() : lv_color_black(), 0);
        lv_obj_set_style_bg_opa(value, selected ? LV_OPA_COVER : LV_OPA_TRANSP, 0);
        lv_obj_set_style_text_color(value, selected ? lv_color_black() : lv_color_white(), 0);
        lv_label_set_text(value, shown_value(child).c_str());
        return;
    }

    const uint32_t color = row_text_color(selected);
    create_row_highlight(y, width, selected);
    create_row_text(8, y + 1, 240, 20, child ? child->getDisplayName() : "Back", color);
    if (child == nullptr) return;
    if (!child->isLeaf()) {
        create_row_arrow(y + 1, width, color);
    } else if (is_item_of(child, ItemType::COLOR)) {
        create_hue_slider(child, sliderX, y + 7);
    } else {
        create_row_value(y + 1, width, shown_value(child).c_str(), color);
    }
}

bool DrawerNode::onEvent(int code)
{
    switch (code) {
    case EventCode::INACTIVITY: EventDispatcher::addEvent(EventCode::CLOSE); return false;
    case EventCode::MAIN + EventCode::TURN_UP:
        if (editNode != nullptr) editNode->edit(true);
        else rows_cursor_next(cursor, scrollTop, itemCount());
        return true;
    case EventCode::MAIN + EventCode::TURN_DOWN:
        if (editNode != nullptr) editNode->edit(false);
        else rows_cursor_previous(cursor, scrollTop);
        return true;
    case EventCode::MAIN + EventCode::PUSH_PRESS: return true;
    case EventCode::MAIN + EventCode::PUSH_CLICK:
        if (editNode != nullptr) editNode = nullptr;
        else open();
        return true;
    case EventCode::MAIN + EventCode::PUSH_LONG:
        if (editNode != nullptr) {
            Node* row = node ? node->childrenAt(cursor, true) : nullptr;
            if (row != nullptr && row->isLeaf() && is_type(row, NodeType::FLOAT)) row->reset();
            editNode = nullptr;
        } else if (node != nullptr && node == System::app) {
            new DrawerSetup();
        }
        return true;
    case EventCode::TICK: tickCount++; return true;
    case EventCode::KNOB1 + EventCode::TURN_UP:
    case EventCode::KNOB1 + EventCode::TURN_DOWN:
    case EventCode::KNOB2 + EventCode::TURN_UP:
    case EventCode::KNOB2 + EventCode::TURN_DOWN:
    case EventCode::KNOB3 + EventCode::TURN_UP:
    case EventCode::KNOB3 + EventCode::TURN_DOWN:
    case EventCode::KNOB4 + EventCode::TURN_UP:
    case EventCode::KNOB4 + EventCode::TURN_DOWN: return true;
    case EventCode::KNOB1 + EventCode::PUSH_CLICK: EventDispatcher::addEvent(EventCode::CLOSE); return true;
    default: return false;
    }
}

void DrawerNode::open()
{
    if (node == nullptr) return;
    const int visible = node->childrenCount(true);
    if (cursor >= visible) {
        if (cursor == visible && EventDispatcher::elements() >= 2) EventDispatcher::addEvent(EventCode::CLOSE);
        return;
    }
    Node* child = node->childrenAt(cursor, true);
    if (child == nullptr) return;
    if (!child->isLeaf()) {
        new DrawerNode(child);
        return;
    }
    openLeaf(child);
}

void DrawerNode::openLeaf(Node* child)
{
    if (is_item_of(child, ItemType::STRING)) {
        auto* item = static_cast<NodeItem*>(child);
        std::string value = item->getValue();
        bool accepted = false;
        (new DrawerKeyboard(child->getDisplayName(), &value))->setAccepted(&accepted);
        waitModal();
        // Only a text taken by OK: the password opens empty (its value is never shown), so a
        // cancel must keep it while OK on the empty text removes it.
        if (!accepted) return;
        if (auto* password = dynamic_cast<NodePassword*>(item)) {
            // The player is told, since OK on a password looks the same whatever it did.
            using UnitSet = NodePassword::UnitSet;
            const UnitSet set = password->setOnUnit(value);
            const char* title = set == UnitSet::kTooLong ? "Password not set"
                                : value.empty()          ? "No password"
                                                         : "Password set";
            const char* text = set == UnitSet::kTooLong    ? "Too long"
                               : set == UnitSet::kNotSaved ? "Not saved: lost at the next start"
                                                           : "";
            new DrawerPopup(title, text, 0, nullptr);
            return;
        }
        item->setValue(value);
        return;
    }
    if (is_type(child, "action")) {
        const std::string type = action_type(child);
        if (type == "smp") {
            child->edit(true);
            return;
        }
        if (type == "smp_cfm") {
            int result = 0;
            new DrawerPopup("Are you sure?", "", 1, &result);
            waitModal();
            if (result == 1) child->edit(true);
            return;
        }
    }
    if (is_type(child, NodeType::PLIST)) {
        new DrawerList(static_cast<NodeParList*>(child));
        return;
    }
    if (is_type(child, "array")) {
        new DrawerArray(static_cast<NodeArray*>(child));
        return;
    }
    editNode = child;
}
