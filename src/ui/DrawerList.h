#pragma once
#include <string>

#include "ui/Listener.h"

class NodeList;
class NodeParList;

// The elements of a stored list, seen through a parameter-list node (the preset selector is one):
// every slot with its bank-style number ("01A", "01B", "01C", "02A", ...), the current element
// underlined. A click selects a slot (for presets: loads it) and closes; on an editable node a
// click on an empty slot names it with the keyboard and stores the current settings there, and a
// long press on a filled slot offers "Rename", "Delete" and "Overwrite". Runs on "systemTasks";
// the list may change meanwhile from the remote side, so names are read afresh at every draw.
class DrawerList : public Listener {
public:
    explicit DrawerList(NodeParList* plist);

    // Shows another node (as the constructor, without registering).
    void setNode(NodeParList* plist);

    bool draw() override;
    bool onEvent(int code) override;

    // "%02d%c": bank (slot / 3 + 1) and letter ('A' + slot % 3).
    static std::string slotNumber(int slot);

protected:
    NodeParList* plist = nullptr;
    NodeList* list = nullptr;
    int cursor = 0;
    int tickCount = 0;
    int scrollTop = 0;
    int rows = 0;

private:
    int elementCount() const;
    void select();
    void nameEmptySlot();
    void manage();
    // The keyboard on `text` for a name of `slot`, until OK with a name the list keeps there (or
    // the empty text): true; or a cancel: false.
    bool openKeyboard(int slot, std::string& text);
};
