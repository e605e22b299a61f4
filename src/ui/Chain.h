#pragma once
#include <string>
#include <vector>

#include "lvgl.h"
#include "ui/Listener.h"

class Node;
class NodeEnum;
class NodeFloat;
class NodeItem;
class NodePreset;

// The effect-chain screen, opened from the home screen by a click of the main encoder: the blocks
// of the application folder as a row of coloured boxes with a cursor. The main encoder moves the
// cursor (-1 is the preset position left of the first block), a click opens the node browser on
// the block (on the master folder at the preset position), a long press switches the block on or
// off (opens the setup screen at the preset position); knobs 1-4 edit the block's first four
// parameters (preset, list, level and volume at the preset position), a long press of knob k
// assigns the block to knob k of the home screen, a click of knob 1 goes back. Codes it does not
// list pass to the home screen, so footswitches keep working. Runs on "systemTasks".
class Chain : public Listener {
public:
    Chain(Node* app, Node* root, NodePreset* preset, NodeFloat* level, NodeFloat* volume,
          std::vector<NodeItem*> assigns);

    void setNodes(Node* app, Node* root, NodePreset* preset);
    // The block's first child is its "on_off" switch and it is "ON".
    static bool isEnabled(Node* block);
    // One block box at (x, y) inside `parent`, with a connector line behind it; colours 0xRRGGBB.
    static void createBlock(lv_obj_t* parent, int x, int y, int color, const char* name, bool selected,
                            const char* text);
    // The knob parameters of a block: its parameters and those of its sub-folders, in order, without
    // the switches and without the tempo-link folders.
    static std::vector<Node*> getFastNodes(Node* block);
    // Assigns the block under the cursor to knob k (0..3); a block is held by one knob at most.
    void assignCursor(int k);

    // One step of the preset selector, asking first when the preset has unsaved changes: "Ok"
    // steps anyway, "Save" stores the changes under the current name. Shared with the home screen.
    static void stepPreset(NodePreset* preset, bool up);
    // "%02d%c" of the preset's bank and letter; "00-" when none is selected.
    static std::string presetNumber(NodePreset* preset);

    bool draw() override;
    bool onEvent(int code) override;

protected:
    Node* app;
    Node* root;
    NodePreset* preset;
    NodeFloat* volume;
    NodeFloat* level;
    int cursor = -1;
    Node* masterFolder = nullptr;
    std::vector<Node*> blocks;
    std::vector<NodeEnum*> enables;
    std::vector<NodeItem*> assigns;

private:
    Node* blockAtCursor() const;
    void findBlocks();
    void editFast(int index, bool up);
    int knobOf(Node* block) const;
};
