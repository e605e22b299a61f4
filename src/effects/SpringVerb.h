#pragma once
#include "audio/AudioBlock.h"
#include "dsp/DoubleBuffer.h"
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
// compile() on "compileLoop" publishes one coefficient set whole; exec on "audioLoop". All delay
// buffers live inside the object; instanceClear empties them (at construction, never while audio
// runs through the block).
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
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    // True without a switch, else whether it is "ON".
    bool isEnabled() const;
    void instanceClear();

    // The spring length in samples of the last compile pass.
    int getSpringDelay() const { return coeffs.current().springDelay; }

private:
    struct Coeffs {
        bool active;
        float feedback;
        int springDelay;
        float lpB0, lpA1; // one-pole low-pass of the loop (bilinear)
        float dry, wet;
    };
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

    DoubleBuffer<Coeffs> coeffs;
    State state;
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
};
