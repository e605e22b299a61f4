#pragma once
#include "params/NodeControl.h"

#include <atomic>

class NodeEnum;

// A MIDI control-change mapping: the controller number (its value, 0..127, stored as 4 bytes) on the
// channel chosen by the shared channel selector drives the target. A float target follows the
// controller through its slider taper (0 = min, 127 = max); an enumerated target is stepped through
// its options from the first (127) to the last (0), so an on/off switch is "ON" from 64 up. Other
// targets are not driven. Messages arrive on "controlLoop".
class NodeControlMidiCC : public NodeControl {
public:
    NodeControlMidiCC(Node* parent, const char* key, const char* label, Node* target, int cc, NodeEnum* channel);

    void* getStorageData(int* size) override;
    // A stored number outside 0..127 could never match a message: the default takes its place.
    void onLoad() override;

    // A decimal integer 0..127 and nothing else.
    bool fromString(std::string text) override;
    std::string toString() override;
    std::string getValueJSON() override;
    void reset() override;
    void fromSource(const char* source, unsigned char* bytes, int length) override;

    int getNumber() const { return cc.load(); }

private:
    std::atomic<int> cc;
    int defaultCc;
    NodeEnum* channel;
};
