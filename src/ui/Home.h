#pragma once
#include <string>
#include <vector>

#include "ui/Listener.h"

class Node;
class NodeFloat;
class NodeItem;
class NodePreset;
class Tempo;
class Tuner;

// The unit's root screen, at the bottom of the stack and never closed: the selected preset (name,
// bank number and letter, a mark when edited), the tempo, the volume, the input and output meters
// and four parameter boxes for the knobs. The main encoder sets the volume, or steps the preset
// while its push is held; a click opens the chain screen. Footswitch A, B or C selects the preset
// of that letter in the bank (a press on the active preset's footswitch taps the tempo), the pairs
// A+B and B+C browse the banks, a long press of C starts the tuner. Knobs edit their default
// parameters, or after a knob click the parameters of the block assigned to that knob. Long presses
// of knobs 1 and 2 save the preset ("Overwrite", "Save as..."). Runs on "systemTasks"; everything
// is drawn afresh from the node values at every frame.
class Home : public Listener {
public:
    // `root` is not used by this unit (null); app and root are passed on to the chain screen.
    // `assigns` are the knob assignments, each holding the full path of a block.
    Home(Node* app, Node* root, NodePreset* preset, Tuner* tuner, Tempo* tempo, std::vector<NodeItem*> assigns);

    void setTuner(Tuner* tuner) { this->tuner = tuner; }
    void setVolumeNode(NodeFloat* node) { volumeNode = node; }
    void setLevelNode(NodeFloat* node) { levelNode = node; }
    void setControls(NodeFloat* knob1, NodeFloat* knob2, NodeFloat* knob3, NodeFloat* knob4);
    void setNodes(Node* app, Node* root, NodePreset* preset);
    // Kept for the application; the screen does not show it.
    void setVersion(std::string text) { version = std::move(text); }

    // Steps a parameter and shows it large for 1.2 s in `color` (0: the parameter's own colour).
    void editParam(NodeFloat* node, bool up, int color);
    // Shows the block assigned to knob k (0..3) and its parameters for 8 s; -1 hides it.
    void showAssign(int k);
    // Steps parameter k of the block shown.
    void editAssign(int k, bool up);

    bool draw() override;
    bool onEvent(int code) override;

    // Overlay ticks (200 ms each).
    static constexpr int kEditTicks = 6;
    static constexpr int kAssignTicks = 40;
    static constexpr int kBankTicks = 40;

protected:
    Node* app;
    Node* root;
    NodePreset* preset;
    Tuner* tuner;
    Tempo* tempo;
    Node* editNode = nullptr;
    int editTicks = 0;
    int editColor = 0;
    NodeFloat* volumeNode = nullptr;
    NodeFloat* levelNode = nullptr;
    NodeFloat* controls[4] = {nullptr, nullptr, nullptr, nullptr};
    int assignTicks = 0;
    int bankCursor = -1;
    int bankTicks = 0;
    Node* assignedBlock = nullptr;
    std::vector<Node*> fastNodes;
    std::vector<NodeItem*> assigns;
    // Main push: 0 released, 1 pressed, 2 pressed and used to step presets.
    int pushState = 0;
    std::string version;

private:
    void drawEditOverlay();
    void drawPresetNumber();
    void drawTempo();
    void drawMeters();
    void mainTurn(bool up);
    void footPress(int position);
    void footClick(int position);
    void browseBank(int step);
    void knobTurn(int k, bool up);
    void overwrite();
    void saveAs();
    void save(const std::string& name);
    int presetIndex() const;
};
