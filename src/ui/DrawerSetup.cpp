#include "ui/DrawerSetup.h"

#include <cstring>

#include "base/System.h"
#include "params/NodeItem.h"
#include "ui/DrawerNode.h"
#include "ui/DrawerRows.h"
#include "ui/EventDispatcher.h"

DrawerSetup::DrawerSetup()
{
    Node* root = System::root;
    if (root != nullptr) {
        for (Node* child : root->getChildren()) {
            if (std::strcmp(child->getType(), NodeType::ITEM) != 0 || child->isLeaf()) continue;
            if (std::strcmp(static_cast<NodeItem*>(child)->getItemType(), ItemType::SFOLDER) != 0) continue;
            folders.push_back(child);
        }
    }
    if (System::system != nullptr) folders.push_back(System::system);
    rows = int(folders.size()) + (EventDispatcher::elements() >= 2 ? 1 : 0);
}

bool DrawerSetup::draw()
{
    const int width = rows_width(rows);
    create_rows_frame("Setup");
    if (rows > kRowsShown) create_rows_scrollbar(rows, scrollTop);
    for (int i = 0; i < kRowsShown && i < rows; i++) {
        const int n = scrollTop + i;
        const int y = 40 + kRowHeight * i;
        const bool selected = n == cursor;
        Node* entry = n < int(folders.size()) ? folders[n] : nullptr;
        const uint32_t color = row_text_color(selected);
        create_row_highlight(y - 1, width, selected);
        create_row_text(8, y, 240, 20, entry ? entry->getDisplayName() : "Back", color);
        if (entry == nullptr) continue;
        if (!entry->isLeaf()) create_row_arrow(y, width, color);
        else create_row_value(y, width, entry->toString().c_str(), color);
    }
    return true;
}

bool DrawerSetup::onEvent(int code)
{
    switch (code) {
    case EventCode::INACTIVITY: EventDispatcher::addEvent(EventCode::CLOSE); return false;
    case EventCode::MAIN + EventCode::TURN_UP: rows_cursor_next(cursor, scrollTop, rows); return true;
    case EventCode::MAIN + EventCode::TURN_DOWN: rows_cursor_previous(cursor, scrollTop); return true;
    case EventCode::MAIN + EventCode::PUSH_CLICK:
        if (cursor >= 0 && cursor < int(folders.size())) new DrawerNode(folders[cursor]);
        else if (cursor == int(folders.size())) EventDispatcher::addEvent(EventCode::CLOSE);
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
