#pragma once
#include "params/NodeControl.h"

#include <atomic>
#include <cstdint>

// Measures a tempo from the MIDI timing clock (0xF8, 24 per beat): clocks are counted for a little
// more than 2 s, then the tempo in beats per minute becomes the node's value (stored as 4 bytes). A
// gap of more than 0.5 s between clocks starts a new measurement; until the first one the tempo is 0.
// Clocks arrive on "controlLoop".
class NodeControlMidiTempo : public NodeControl {
public:
    NodeControlMidiTempo(Node* parent, const char* key, const char* label, Node* target);

    void* getStorageData(int* size) override;
    // A stored value that is not a number reads as "not measured".
    void onLoad() override;

    // A decimal number (the whole text); infinities and NaN are refused.
    bool fromString(std::string text) override;
    std::string toString() override;
    std::string getValueJSON() override;
    void reset() override;
    void fromSource(const char* source, unsigned char* bytes, int length) override;

    float getTempo() const { return tempo.load(); }

protected:
    // Microseconds of the clock; a test may run its own.
    virtual uint64_t now();

private:
    std::atomic<float> tempo{0.0f};
    uint64_t lastClock;
    int clockCount = 0;
    float elapsed = 0.0f;
};
