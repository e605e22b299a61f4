#pragma once
#include "params/NodeControl.h"

#include <deque>
#include <string>
#include <vector>

class NodeEnum;
class NodeFloat;
class NodeItem;
class NodeLink;
class NodeOnOff;
class NodePreset;

// An assignable controller: one control input, the analog controller or a MIDI control change
// learnt from the player, drives up to `links` float parameters at once, each between its own
// minimum and maximum (in percent of its slider travel; a minimum above the maximum reverses it).
//
// It links itself to every registered source and takes messages only from the one chosen in "src".
// Its settings are child nodes under the settings folder (the controller's parent when none is
// given): "src", "lrn" (learn the next CC number), "opt<i>_address" (the learnt CC number, only when
// a MIDI source exists), "_st" (the last input level in percent) and per link a folder "lnk<n>" with
// "min", "max" and the path "lnk". With a preset node the selection travels with presets and the
// learn switch and level stay out of them; without one the selection and address are stored.
//
// The node itself carries no value: its text is empty and its JSON value the empty string.
// Messages arrive on "controlLoop"; the screens edit the children meanwhile without locks.
class NodeControlMulti : public NodeControl {
public:
    NodeControlMulti(Node* parent, const char* key, const char* label, NodeEnum* channel, Node* settings,
                     NodePreset* preset, int links);

    void* getStorageData(int* size) override;
    // Accepts anything and keeps nothing.
    bool fromString(std::string text) override;
    std::string toString() override;
    std::string getValueJSON() override;
    void reset() override;
    void fromSource(const char* source, unsigned char* bytes, int length) override;

    NodeEnum* getSourceSelector() const { return sourceSelector; }
    NodeOnOff* getLearn() const { return learn; }
    NodeFloat* getAddress() const { return address; }
    NodeFloat* getStatus() const { return status; }
    int getMidiIndex() const { return midiIndex; }

    struct Link {
        NodeItem* folder;
        NodeFloat* min;
        NodeFloat* max;
        NodeLink* param;
    };
    const std::vector<Link>& getLinks() const { return links; }

private:
    NodeEnum* channel;
    // Parallel: the detected sources' names and their option labels, in name order.
    std::vector<std::string> sourceNames;
    std::vector<std::string> sourceLabels;
    int midiIndex = -1;
    NodeEnum* sourceSelector = nullptr;
    NodeOnOff* learn = nullptr;
    NodeFloat* address = nullptr;
    NodeFloat* status = nullptr;
    std::vector<Link> links;
    // Keys and labels made here; nodes keep pointers to them for the life of the program.
    std::deque<std::string> texts;

    const char* keep(std::string text);
    void drive(float level);
};
