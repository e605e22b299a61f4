#pragma once
#include "audio/AudioBlock.h"
#include "dsp/AlignedArray.h"
#include "dsp/Crossfade.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/ParamSet.h"
#include "dsp/StereoLfo.h"
#include "dsp/TriangleLfo.h"
#include "effects/BlockHelpers.h"

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;
class Tempo;

// The stereo delay: two lines (left, right) in one interleaved ring of 2.73 s each, tempo-linkable
// times, a feedback matrix that rotates the repeats between the lines ("Stereo Bouncing"), a tone
// section and a darkening of the repeats ("Analog BBD") in the loop, tape wow from four slow
// triangle oscillators, a chorus-like sweep of the read position from the shared LFO tables, and a
// dual mode with its own right time, feedback, line pans and balance.
//
// Switched off, its lines get silence, so the repeats die away while the dry signal passes at unity;
// once the whole ring holds nothing audible the block stops working until it is switched on again.
// compile() on "compileLoop" publishes one coefficient set whole; the switch changes at the fade's
// quiet point. In exec new delay times and LFO shapes cross-fade from the old read positions to the
// new (a jump would click, and the click would repeat), while gains, pans, the feedback, the sweep
// depth, the tape wow and the stereo phase glide. exec runs on "audioLoop". Times in ms on the
// nodes, in samples at 48 kHz in the coefficients.
class DelayEngine : public AudioBlock {
public:
    static constexpr unsigned kRingFrames = 131072; // stereo frames in the ring (1 MiB)
    static constexpr float kMaxDelaySamples = 129598; // leaves room for the sweep and the wow

    DelayEngine(Node* parent, Tempo* tempo);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    void setExtOnOff(bool on) { extOnOff.set(on); }

private:
    // What the read positions depend on beyond what glides: cross-faded when it changes.
    struct Taps {
        int delayL, delayR; // samples
        const float* shape; // LFO table of the sweep
        bool operator==(const Taps&) const = default;
    };
    // What exec reads beside the glides.
    struct Coeffs {
        int enabled = 0;
        Taps taps{4096, 4096, referenceShapeTriang};
        float increment = 0.0f; // LFO points per sample
        bool operator==(const Coeffs&) const = default;
    };
    using Param = ParamSet<Coeffs>::Param;

    fx::ExternalSwitch extOnOff;
    bool on = false; // the switch as the audio has it (compile thread)

    NodeOnOff* onOff = nullptr;
    fx::TempoLink time;
    NodeFloat* feedback = nullptr;
    NodeFloat* mix = nullptr;
    NodeFloat* analog = nullptr;
    NodeFloat* tape = nullptr;
    NodeFloat* hiDamp = nullptr;
    NodeFloat* loDamp = nullptr;
    NodeFloat* spread = nullptr;
    NodeFloat* bounce = nullptr;
    NodeOnOff* modOnOff = nullptr;
    fx::TempoLink modRate;
    NodeFloat* modDepth = nullptr;
    NodeEnum* modShape = nullptr;
    NodeFloat* modSphase = nullptr;
    NodeOnOff* dualOnOff = nullptr;
    fx::TempoLink timeR;
    NodeEnum* fbPolicy = nullptr;
    NodeFloat* feedbackR = nullptr;
    NodeFloat* mixBalance = nullptr;
    NodeFloat* panL = nullptr;
    NodeFloat* panR = nullptr;

    // The sweep depth, the wow and the stereo lead move read positions: they glide slowly, since a
    // quick move bends the pitch. The rest glides like levels.
    ParamSet<Coeffs> params;
    const Param g0 = params.add(GlideKind::Level, 1.0f); // input steering into the lines
    const Param g1 = params.add(GlideKind::Level);
    const Param tapeDepth = params.add(GlideKind::Position); // wow depth w, samples per oscillator unit
    const Param depth = params.add(GlideKind::Position); // sweep depth m, samples
    const Param offset = params.add(GlideKind::Position); // right LFO lead, points
    // The feedback matrix.
    const Param fLL = params.add(GlideKind::Level), fRL = params.add(GlideKind::Level);
    const Param fLR = params.add(GlideKind::Level), fRR = params.add(GlideKind::Level);
    // The output pans.
    const Param cosL = params.add(GlideKind::Level, 1.0f), cosR = params.add(GlideKind::Level);
    const Param sinL = params.add(GlideKind::Level), sinR = params.add(GlideKind::Level, 1.0f);
    const Param dryGain = params.add(GlideKind::Level, 1.0f), wetGain = params.add(GlideKind::Level);
    // 1 on, 0 off: the lines' input, so that it never starts or stops with a step.
    const Param input = params.add(GlideKind::Level);

    // Audio-thread state.
    AlignedArray<float> ring{2 * kRingFrames};
    unsigned writeIndex = 0; // in floats, always even
    unsigned quietSamples = 0; // samples written in a row that hold nothing audible
    Crossfade<Taps> taps;
    GlidingBiquad tone[2];
    GlidingBiquad bbd[4]; // A, B on the left line, C, D on the right
    TriangleLfo<4> wow; // the tape wow's four triangles
    StereoLfo lfo;
    alignas(16) float wet[2][FRAME_SAMPLES] = {};
    alignas(16) float fb[2][FRAME_SAMPLES] = {};
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
};
