#pragma once
#include "audio/AudioBlock.h"
#include "dsp/GlidingBiquad.h"
#include "effects/BlockHelpers.h"

#include <atomic>
#include <cstdint>

class NodeEnum;
class NodeFloat;
class NodeItem;
class NodeOnOff;

// The expression block: a volume/boost stage and a wah, both meant for an expression pedal linked
// to "vol" and "pos". The whole block is one biquad on the left channel (the right one is never
// touched). To change coefficients without clicks it keeps two biquads and cross-fades: compile
// loads the newest coefficients into the silent one, exec fades over to it in 150 frames (50 ms).
//
// Parameters: "vol" % on the shared volume taper, "boost" dB; wah "pos" and "int" (emphasis) %,
// "lo_sw"/"hi_sw" the sweep range in Hz, "mode" "Cry" (band-pass) or "Vintage" (resonant low-pass),
// "off_val" fades the wah out past 95 % or 90 % of the pedal. The position moves at most a full
// sweep per 0.2 s, so a jumping controller cannot snap the filter.
// compile runs on the compile thread and owns the smoothed position; exec on the audio thread owns
// the fade position.
class Expr : public AudioBlock {
public:
    explicit Expr(Node* parent);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    void setExtOnOff(bool on) { external.set(on); }
    // The wah position after rate limiting, 0..1 (compile thread).
    float getSmoothedPosition() const { return smoothed; }

private:
    static constexpr float kFadeStep = 0.006666667f; // 150 frames

    bool on = false; // the switch as the audio has it (compile thread)
    std::atomic<int> enabled{0};
    std::atomic<float> fade{0.0f}; // weight of biquad B (1 - weight of A); audio thread writes
    std::atomic<int> direction{0}; // 1: toward B, 0: toward A; compile thread writes
    float smoothed = 0.0f;
    alignas(16) float scratch[FRAME_SAMPLES] = {};
    // Direct form I, so that new coefficients in the silent one leave no ringing to fade in.
    GlidingBiquad biquadA;
    GlidingBiquad biquadB;
    fx::ExternalSwitch external;
    int64_t lastCompileTime = 0;

    NodeOnOff* onOff = nullptr;
    NodeOnOff* wahOn = nullptr;
    NodeOnOff* volumeOn = nullptr;
    NodeEnum* mode = nullptr;
    NodeEnum* offValue = nullptr;
    NodeFloat* position = nullptr;
    NodeFloat* volume = nullptr;
    NodeFloat* boost = nullptr;
    NodeFloat* emphasis = nullptr;
    NodeFloat* loSweep = nullptr;
    NodeFloat* hiSweep = nullptr;
};
