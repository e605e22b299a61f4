#pragma once
#include "params/NodeParList.h"

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// What follows a name in the value that asks for a save rather than a load. It is exactly what a
// remote write of {"value":"<name>","save":"save"} hands to fromString once the outer quotes are
// removed, and the screens append it to a name themselves. Only a value that ends with it saves;
// no element name can hold it (element names carry no double quote).
inline constexpr const char* PRESET_SAVE_SUFFIX = "\",\"save\":\"save";

// The preset selector (the application's "preset"): a parameter-list node over the preset list
// whose value is the selected preset's name. Setting a name loads that preset into every covered
// node; setting a name followed by PRESET_SAVE_SUFFIX saves the current parameters under it.
//
// A preset is the text of the covered nodes, one level-0 fragment per line joined by "\r\n", in
// breadth-first order from the preset node's parent: every node met after the preset node itself
// whose parameter flag is set, never entering a node of the ignore set. Loads and saves run on the
// caller's thread (screens, remote side, MIDI program changes, start-up) without a lock; the
// compile pass picks up the new values. Selections made from the list itself (footswitches,
// program changes, knob steps, list screens, start-up) go through select and only ever load.
class NodePreset : public NodeParList {
public:
    NodePreset(Node* parent, const char* name, const char* displayName, std::string defaultValue, NodeList* presets);

    // Loads the stored selection again at start-up.
    void onLoad() override;
    // A remote value: {"value":"<name>","save":"save"} saves (true when stored), a plain quoted name
    // loads (true, even when the name is absent and the selection is cleared). The marker is looked
    // for before the name's escapes are undone, so an escaped name is always a name.
    bool fromString(std::string text) override;
    bool isEditable() override { return true; }
    // Save when the text ends with the marker (false), else load (true when a preset was loaded).
    bool setValue(std::string text) override;
    // Loads the preset of that name (true), or clears the selection when there is none (false).
    bool select(std::string name) override;

    // Stores the current parameters at a list position under a name ("" keeps the element's name,
    // or gives "new preset" to an empty one); nothing (false) when the list refuses the name there.
    bool saveAs(int position, std::string name);
    // Why saving the current parameters under a name would store nothing ("no empty slot", or the
    // list's refusal of the name); null when it would store them.
    const char* saveRefusal(const std::string& name);
    std::string presetToString();
    // True when a covered node changed after the last load or save.
    bool isEdited();
    // Loads the preset at a position; false when the position holds none.
    bool setByIndex(int position);

    void addIgnoreNode(Node* node);
    void removeIgnoreNode(Node* node);
    void setIgnoreNode(Node* node, bool ignore);

    // Stores a given preset text (cut to fit the element) under a name.
    void setPresetAt(int position, std::string name, char* text);

protected:
    // A save is an act, not a value: it is held when it stored.
    bool holds(const std::string& value, bool taken) override;

private:
    std::vector<Node*> ignoreNodes;
    // When the parameters last matched the selected preset (its load or save). Apart from
    // changeTime, which a rename of the selection moves too.
    std::atomic<int64_t> snapshotTime;

    bool isIgnored(Node* node) const;
    // The covered nodes in walk order.
    std::vector<Node*> coveredNodes();
    bool load(const std::string& name);
    // True when stored; a refusal is logged with its reason.
    bool save(std::string name);
    // Where a save under a name goes: the position holding the name, else the first empty one
    // (-1 when the list is full).
    int savePosition(const std::string& name);
    // Stores text under a name at a position, cut to what the element holds; true when stored.
    bool storeText(int position, const std::string& name, const std::string& text);
};
