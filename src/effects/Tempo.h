#pragma once
#include "audio/AudioBlock.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class Node;
class NodeEnum;
class NodeFloat;
class NodePreset;

// The unit's tempo service. It stands in the chain as a block so that it takes part in compilation,
// but it processes no audio. It owns the global tempo ("tempo_bpm", BPM, stored globally, never in a
// preset), keeps further named tempo sources (the preset's own tempo), makes the "lock" selector
// through which time-based blocks choose the tempo they follow, and turns footswitch taps into a
// tempo.
//
// Threads: sources and lock nodes are added during start-up only. Taps, the tap state and the overlay
// countdown belong to the event thread. isLocked/getTempo run on the compile thread and read node
// values, which are atomic.
class Tempo : public AudioBlock {
public:
    static constexpr int kTapRing = 8;
    // Overlay ticks (200 ms each) after the last tap before a tap run ends.
    static constexpr int kTapTicks = 20;
    static constexpr const char* kUnlocked = "Unlocked";
    static constexpr const char* kGlobal = "Global";

    // preset may be null; the global tempo is then only stored, not kept out of a preset.
    Tempo(Node* parent, NodePreset* preset);

    bool compile() override { return false; }
    static bool exec(AudioBlock*, AudioFrame) { return false; }

    // The name is not copied: it must live as long as the block.
    void addTempoSource(NodeFloat* node, const char* name);
    // A "lock" selector under parent offering "Unlocked", "Global" and the sources added so far;
    // null for a null parent.
    NodeEnum* createLinkNode(Node* parent);
    // Whether a lock option text follows a tempo ("Global" or a source name).
    bool isLocked(const char* option) const;
    // BPM of a lock option text; 0 when it names no tempo.
    float getTempo(const char* option) const;
    // Sets the global tempo and every source.
    void setTempo(float bpm);

    void manualTap();
    // True from the fifth tap of a run on, when taps set the tempo.
    bool manualStatus() const { return tapActive && tapCount > 3; }
    void manualReset();
    // One overlay tick of a running tap run: counts the countdown down and ends the run when it
    // reaches 0. True while the run goes on.
    bool tapTick();

    // The tempo the home screen shows, "%.1f": the first source chosen by a lock node whose value is
    // neither 0 nor the global tempo, else the global tempo.
    std::string toString() const;

    NodeFloat* getTempoNode() const { return tempoNode; }
    bool isTapActive() const { return tapActive; }
    int getTapCountdown() const { return tapCountdown; }
    int getTapCount() const { return tapCount; }
    int getTapIndex() const { return tapIndex; }
    const uint64_t* getTapTimes() const { return tapTimes; }
    const std::vector<NodeEnum*>& getLockNodes() const { return lockNodes; }

private:
    const NodeFloat* findSource(const char* name) const;

    NodeFloat* tempoNode = nullptr;
    bool tapActive = false;
    int tapCountdown = 0;
    uint64_t tapTimes[kTapRing] = {};
    int tapIndex = 0;
    int64_t lastCompileTime = 0;
    int tapCount = 0;
    std::vector<std::pair<NodeFloat*, const char*>> sources;
    std::vector<NodeEnum*> lockNodes;
};
