#pragma once
#include "audio/AudioBlock.h"
#include "dsp/DoubleBuffer.h"
#include "effects/BlockHelpers.h"

#include <atomic>

class NodeFloat;
class NodeOnOff;

// The noise gate: silences the guitar between notes. A detector follows the level of one input
// channel, or of an external signal (the application feeds it the chain's dry input, so that the
// gate opens on the player's attack whatever the blocks before it did). Above the open threshold the
// gain rises with the attack time, below the close threshold (the open threshold lowered by the
// hysteresis) it falls with the release time, and in between it holds, so the gate does not chatter.
//
// Parameters: "threshold" dB, "attack" and "release" ms (the time for a change by a factor of 9),
// "hysteresis" dB. With its switch off (or the external switch off) the gate stays open.
// compile runs on the compile thread, exec on the audio thread; the external signal is read on the
// audio thread, 16 samples per frame.
class NoiseGate : public AudioBlock {
public:
    // mask: bit 0 gates the left channel, bit 1 the right. trigger: 2 detects on the right channel,
    // 3 on the external signal, anything else on the left. store: the settings are device settings
    // (stored on their own, not linkable). ownSwitch: the block has its own "Enable".
    NoiseGate(Node* parent, int mask, int trigger, float* external, bool store, bool ownSwitch);
    NoiseGate(Node* parent, int mask, int trigger, float* external, bool store);
    NoiseGate(Node* parent, int mask, int unused, bool store);
    NoiseGate(Node* parent, int mask, bool store);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    bool isEnabled() const;
    void toggle();
    // The gate is open (gain above 0.01).
    bool triggerStatus() const { return gainOut.load(std::memory_order_relaxed) > 0.01f; }
    // Takes effect at the next compilation.
    void setExtOnOff(bool on) { external.set(on); }

private:
    enum Detector { DETECT_LEFT = 0, DETECT_RIGHT = 1, DETECT_EXTERNAL = 2 };

    struct Coeffs {
        float openThreshold = 0.0f; // linear
        float closeThreshold = 0.0f; // linear
        float attack = 1.0f; // per-sample smoothing toward 1
        float release = 1.0f; // per-sample decay toward 0
    };

    // Audio thread state.
    float envelope = 0.0f;
    float gain = 0.0f;
    std::atomic<float> gainOut{0.0f}; // the gain after the last frame, for other threads
    alignas(16) float detector[FRAME_SAMPLES] = {};

    DoubleBuffer<Coeffs> coeffs{Coeffs{}};
    bool on = false; // the switch as the audio has it (compile thread)
    int mask;
    int source;
    fx::ExternalSwitch external;
    const float* externalSignal;

    NodeFloat* threshold = nullptr;
    NodeFloat* attack = nullptr;
    NodeFloat* release = nullptr;
    NodeFloat* hysteresis = nullptr;
    NodeOnOff* onOff = nullptr;
};
