#pragma once
#include "params/Node.h"
#include "params/NodeList.h"
#include "params/SharedSnapshot.h"

#include <atomic>
#include <cstdint>
#include <string>

// A parameter ("plist") whose value is the name of one element of a stored list: the impulse
// responses of the cabinet, the model of an amp-model player, the selected preset. Since the value
// is a name and not a position, a selection follows its element when the list is reordered, and
// presets store selections by name. "" selects nothing.
//
// Renaming the selected element renames the selection with it (the list calls followRename);
// deleting it leaves the selection naming nothing.
//
// The value is read by the screens, the compile thread and the remote side and written by the
// screen, remote and control threads: it is published whole (SharedSnapshot), so a reader never
// sees a torn name. Its stored form is the name as a text file.
class NodeParList : public Node {
public:
    NodeParList(Node* parent, const char* name, const char* displayName, std::string defaultValue, NodeList* list);
    ~NodeParList() override;

    void* getStorageData(int* size) override;
    std::string getStorageText() override;
    void setStorageText(const std::string& text) override;

    // Steps to the nearest present element after (up) or before the selected one; no wrap-around.
    void edit(bool up) override;
    // A quoted name (JSON string): selects it when present. True for any quoted text.
    bool fromString(std::string text) override;
    std::string toString() override { return getValue(); }
    const char* getType() override { return NodeType::PLIST; }
    // ,"ref":"<the list's path as a JSON string>"
    std::string getDescription() override;
    std::string getValueJSON() override;
    // A selection has no default to return to.
    void reset() override;

    // Whether the list screen may name, save, rename and delete elements through this node.
    virtual bool isEditable() { return false; }
    // Selects a present element by name; false when the name is absent, "" or already selected.
    virtual bool setValue(std::string name);
    // The same for a name taken from the list itself (knob steps, program changes, footswitches,
    // list screens, start-up): a selection only, whatever the name holds.
    virtual bool select(std::string name);
    // The element named `from` was renamed `to`: a selection of it follows, without reloading
    // anything (the element is the same).
    void followRename(const std::string& from, const std::string& to);

    std::string getValue() const { return value.get(); }
    NodeList* getReferenceList() const { return list; }
    // Position of the selected element; -1 when nothing present is selected.
    int getIndex();
    // A whole copy of the selected element's data; false when nothing valid is selected.
    bool copyData(void* out);
    int getElementCount();
    std::string getValueAt(int position);
    // Would a knob step in that direction change the selection?
    bool canEdit(bool up);
    // Whether the block using the selection cannot play the element it names (a model its player
    // could not load, a response the cabinet refused), so that the screens do not show it as playing.
    // Set by the block's compile, read by the screens.
    void setUnplayable(bool unplayable) { this->unplayable.store(unplayable, std::memory_order_relaxed); }
    bool isUnplayable() const { return unplayable.load(std::memory_order_relaxed); }

protected:
    friend class NodeList; // forgets itself when it goes first
    SharedSnapshot<std::string> value;
    NodeList* list;
    std::atomic<bool> unplayable{false};

    // Stores the value without notifying.
    void storeValue(std::string name) { value.set(std::move(name)); }
};
