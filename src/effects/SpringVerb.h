#pragma once
#include "audio/AudioBlock.h"
#include "dsp/Crossfade.h"
#include "dsp/ParamSet.h"
#include "effects/BlockHelpers.h"

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;

// A spring reverb: per channel a recirculating "spring" delay whose loop runs through four pairs of
// dispersive allpasses (the chirp of a spring) and a one-pole tone filter, which also shapes what
// is heard of the spring. Both channels hear the
// same spring length but different allpass pairs, so the tails decorrelate. It is a complete block
// that the unit's chain does not include.
//
// compile() on "compileLoop" publishes one coefficient set whole; exec on "audioLoop". The switch
// changes at the fade's quiet point; gains and the tone glide, and a new spring length cross-fades
// from the old read position. All delay buffers live inside the object; instanceClear empties them
// (at construction, never while audio runs through the block).
class SpringVerb : public AudioBlock {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kMainSize = 4096; // the longest spring (PRE... POST, slack) fits
    static constexpr int kInnerSize = 2048;
    static constexpr int kInner = 16;
    // Fixed allpass lengths, in pairs: pairs 0..3 belong to the left spring, 4..7 to the right.
    static constexpr int kInnerLength[kInner] = {1314, 810, 1062, 558, 1188, 684, 936, 432,
                                                 1110, 750, 930,  570, 1020, 660, 840, 480};

    explicit SpringVerb(Node* parent);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    // True without a switch, else whether it is "ON".
    bool isEnabled() const;
    void instanceClear();

    // The spring length in samples of the last compile pass.
    int getSpringDelay() const { return params.fixed().springDelay; }

private:
    struct Coeffs {
        bool active = false;
        int springDelay = 1;
        bool operator==(const Coeffs&) const = default;
    };
    using Param = ParamSet<Coeffs>::Param;
    struct State {
        float spring[2][kMainSize];
        float inner[kInner][kInnerSize];
        unsigned springPos;
        unsigned innerPos[kInner];
        float lpIn[2], lpOut[2];
    };

    NodeOnOff* onOff = nullptr;
    NodeFloat* decay = nullptr;
    NodeFloat* mix = nullptr;
    NodeFloat* tone = nullptr;
    NodeFloat* tension = nullptr;
    NodeEnum* position = nullptr;

    bool on = false; // the switch as the audio has it (compile thread)
    ParamSet<Coeffs> params;
    const Param feedback = params.add(GlideKind::Level);
    // One-pole low-pass of the loop (bilinear).
    const Param lpB0 = params.add(GlideKind::Level), lpA1 = params.add(GlideKind::Level);
    const Param dryGain = params.add(GlideKind::Level, 1.0f), wetGain = params.add(GlideKind::Level);
    Crossfade<int> springDelay{1, 1}; // audio thread
    State state;
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
};
