#include "ui/DrawerList.h"

#include <cstdio>
#include <vector>

#include "params/NodeList.h"
#include "params/NodeParList.h"
#include "params/NodePreset.h"
#include "ui/DrawerChooser.h"
#include "ui/DrawerKeyboard.h"
#include "ui/DrawerRows.h"
#include "ui/EventDispatcher.h"
#include "ui/ServiceThreads.h"

namespace {

// What an empty slot shows after its number.
constexpr const char* kEmptySlot = "--------------------";

} // namespace

DrawerList::DrawerList(NodeParList* plist)
{
    setNode(plist);
}

void DrawerList::setNode(NodeParList* node)
{
    plist = node;
    cursor = 0;
    tickCount = 0;
    scrollTop = 0;
    list = plist ? plist->getReferenceList() : nullptr;
    rows = elementCount();
    if (list != nullptr) {
        int current = list->indexOf(plist->getValue());
        if (current >= 0) cursor = current;
    }
    // Counting this screen: anything below it is somewhere to go back to.
    if (EventDispatcher::elements() > 1) rows += 1;
    // The current element is the last row shown.
    if (cursor > kRowsShown - 1) scrollTop = cursor - (kRowsShown - 1);
}

int DrawerList::elementCount() const
{
    return list ? list->getElementCount() : 0;
}

std::string DrawerList::slotNumber(int slot)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%02d%c", slot / 3 + 1, 'A' + slot % 3);
    return text;
}

bool DrawerList::draw()
{
    if (plist == nullptr || !plist->isLeaf()) return true;
    const int width = rows_width(rows);
    const int count = elementCount();
    const std::string current = plist->getValue();

    create_rows_frame(plist->getDisplayName());
    if (rows > kRowsShown) create_rows_scrollbar(rows, scrollTop);
    for (int i = 0; i < kRowsShown && i < rows; i++) {
        const int n = scrollTop + i;
        const int y = 40 + kRowHeight * i;
        const bool selected = n == cursor;
        create_row_highlight(y - 1, width, selected);

        std::string text;
        bool underline = false;
        if (n >= count) {
            text = "Back";
        } else {
            std::string name = list->nameAt(n);
            text = slotNumber(n) + " " + (name.empty() ? std::string(kEmptySlot) : name);
            underline = !name.empty() && name == current;
        }
        lv_obj_t* label = create_row_text(8, y, width - 5, 20, text.c_str(), row_text_color(selected));
        if (underline) lv_obj_set_style_text_decor(label, LV_TEXT_DECOR_UNDERLINE, 0);
    }
    return true;
}

bool DrawerList::onEvent(int code)
{
    switch (code) {
    case EventCode::INACTIVITY: EventDispatcher::addEvent(EventCode::CLOSE); return false;
    case EventCode::MAIN + EventCode::TURN_UP:
        if (!rows_cursor_next(cursor, scrollTop, rows)) {
            cursor = 0;
            scrollTop = 0;
        }
        break;
    case EventCode::MAIN + EventCode::TURN_DOWN:
        if (!rows_cursor_previous(cursor, scrollTop)) {
            cursor = rows - 1;
            scrollTop = rows > kRowsShown - 1 ? rows - kRowsShown : 0;
            if (scrollTop < 0) scrollTop = 0;
        }
        break;
    case EventCode::MAIN + EventCode::PUSH_CLICK: select(); break;
    case EventCode::MAIN + EventCode::PUSH_LONG: manage(); break;
    case EventCode::TICK: tickCount++; break;
    case EventCode::KNOB1 + EventCode::PUSH_CLICK: EventDispatcher::addEvent(EventCode::CLOSE); break;
    default: break;
    }
    return true;
}

void DrawerList::select()
{
    if (cursor == elementCount() || plist == nullptr) {
        EventDispatcher::addEvent(EventCode::CLOSE);
        return;
    }
    std::string name = list->nameAt(cursor);
    if (plist->isEditable() && name.empty()) {
        nameEmptySlot();
        return;
    }
    if (name != plist->getValue()) plist->select(name);
    EventDispatcher::addEvent(EventCode::CLOSE);
}

void DrawerList::nameEmptySlot()
{
    const int slot = cursor;
    std::string text;
    if (!openKeyboard(slot, text) || text.empty()) return;
    // Filled meanwhile (by the remote side): the typed name is dropped rather than overwrite it.
    if (!list->nameAt(slot).empty()) return;
    // A name the list refuses stores nothing, and selects nothing either.
    if (!list->setElementAt(slot, text, nullptr)) return;
    plist->setValue(text + PRESET_SAVE_SUFFIX);
    plist->select(text);
}

bool DrawerList::openKeyboard(int slot, std::string& text)
{
    // A name the list refuses for this slot keeps the keyboard open with the reason: closing would
    // store nothing and say nothing.
    auto* keyboard = new DrawerKeyboard(plist->getDisplayName(), &text);
    keyboard->setCheck([this, slot](const std::string& typed) {
        const char* refusal = typed.empty() ? nullptr : list->refusal(slot, typed);
        return std::string(refusal ? refusal : "");
    });
    bool accepted = false;
    keyboard->setAccepted(&accepted);
    waitModal();
    return accepted;
}

void DrawerList::manage()
{
    if (plist == nullptr || !plist->isEditable() || cursor < 0 || cursor >= elementCount()) return;
    const int slot = cursor;
    std::string name = list->nameAt(slot);
    if (name.empty()) return;

    std::string choice;
    new DrawerChooser(name, {"Rename", "Delete", "Overwrite"}, &choice);
    waitModal();
    if (choice == "Delete") {
        list->deleteAt(slot);
    } else if (choice == "Rename") {
        std::string text = name;
        if (!openKeyboard(slot, text) || text.empty()) return;
        list->setNameAt(slot, text);
        // A name already used by another slot is refused by the list; selecting it then would load
        // that other element instead. A renamed selection follows by itself, edits kept.
        if (list->nameAt(slot) == text && plist->getValue() != text) plist->select(text);
    } else if (choice == "Overwrite") {
        plist->setValue(name + PRESET_SAVE_SUFFIX);
    }
}
