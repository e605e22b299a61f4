#pragma once
#include "audio/AudioBlock.h"
#include "dsp/AlignedArray.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/ParamSet.h"
#include "dsp/SchroederAllPass.h"
#include "dsp/TriangleLfo.h"
#include "effects/BlockHelpers.h"

#include <memory>

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;

// A four-line feedback delay network reverb, a lighter alternative to the eight-line one. Four
// rings share one write position; each line is read with a slow triangle sweep, damped by a
// first-order filter that also carries its feedback gain, smeared by a Schroeder allpass and mixed
// back by a 4-point Hadamard matrix. It is a complete block that the unit's chain does not include.
//
// compile() on "compileLoop" publishes one coefficient set whole; exec on "audioLoop". The switch
// changes at the fade's quiet point; gains, the sweep depth and the damping glide. Switched off, the
// network gets silence and its tail rings out while the dry signal passes at unity.
class ReverbFDN : public AudioBlock {
public:
    static constexpr int kLines = 4;
    static constexpr int kRingSize = 16384;
    // Line and allpass lengths in samples. Every mode uses the GALAXY lengths: the mode sets the
    // decay range only, so switching it never jumps a read position (the mode has no fade).
    static constexpr int GALAXY_DELAY[kLines] = {1343, 2447, 3087, 3749};
    static constexpr int GALAXY_DELAY_ALLPASS[kLines] = {214, 412, 379, 341};
    static constexpr int HALL_DELAY[kLines] = {1343, 2447, 3087, 3749};
    static constexpr int HALL_DELAY_ALLPASS[kLines] = {511, 413, 381, 341};
    static constexpr int ROOM_DELAY[kLines] = {739, 887, 2063, 2447};
    static constexpr int ROOM_DELAY_ALLPASS[kLines] = {379, 277, 139, 107};

    explicit ReverbFDN(Node* parent);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    void setExtOnOff(bool on) { extOnOff.set(on); }

private:
    struct Coeffs {
        bool active = false;
        bool operator==(const Coeffs&) const = default;
    };
    using Param = ParamSet<Coeffs>::Param;

    fx::ExternalSwitch extOnOff;
    NodeOnOff* onOff = nullptr;
    NodeEnum* mode = nullptr;
    NodeFloat* decay = nullptr;
    NodeFloat* mix = nullptr;
    NodeFloat* modulation = nullptr;
    NodeFloat* hiDamp = nullptr;
    NodeFloat* loDamp = nullptr;

    bool on = false; // the switch as the audio has it (compile thread)
    ParamSet<Coeffs> params;
    const Param modDepth = params.add(GlideKind::Position);
    const Param dryGain = params.add(GlideKind::Level), wetGain = params.add(GlideKind::Level, 1.0f);
    GlidingBiquad damping[kLines];
    std::unique_ptr<SchroederAllPass> allpass[kLines];

    // Audio-thread state.
    AlignedArray<float> rings{kLines * kRingSize};
    unsigned writePos = 0;
    TriangleLfo<> sweep[kLines] = {{{0.25f}, {1.0f}}, {{0.5f}, {-1.0f}}, {{0.75f}, {1.0f}}, {{0.4f}, {-1.0f}}};
    alignas(16) float line[kLines][FRAME_SAMPLES] = {};
    alignas(16) float diffused[kLines][FRAME_SAMPLES] = {};
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
    alignas(16) float wet[2][FRAME_SAMPLES] = {};
};
