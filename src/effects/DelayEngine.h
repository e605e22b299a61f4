#pragma once
#include "audio/AudioBlock.h"
#include "dsp/AlignedArray.h"
#include "dsp/DoubleBuffer.h"
#include "dsp/QuadBiquad.h"
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
// The block always runs: switched off, its lines get silence, so the repeats die away while the dry
// signal passes at unity. compile() on "compileLoop" publishes one coefficient set whole; exec runs
// on "audioLoop". Times in ms on the nodes, in samples at 48 kHz in the coefficients.
class DelayEngine : public AudioBlock {
public:
    static constexpr unsigned kRingFrames = 131072;   // stereo frames in the ring (1 MiB)
    static constexpr float kMaxDelaySamples = 129598; // leaves room for the sweep and the wow

    DelayEngine(Node* parent, Tempo* tempo);

    bool compile() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    void setExtOnOff(bool on) { extOnOff.set(on); }

private:
    struct Coeffs {
        int enabled;
        float g0, g1;            // input steering into the lines
        float delayL, delayR;    // samples
        float tape;              // wow depth w, samples per oscillator unit
        float fLL, fRL, fLR, fRR; // feedback matrix
        float cosL, cosR, sinL, sinR; // output pans
        float dry, wet;
        const float* shape;
        float increment; // LFO points per sample
        int offset;      // right LFO lead, points
        float depth;     // sweep depth m, samples
    };

    fx::ExternalSwitch extOnOff;

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

    DoubleBuffer<Coeffs> coeffs;

    // Audio-thread state.
    AlignedArray<float> ring{2 * kRingFrames};
    unsigned writeIndex = 0; // in floats, always even
    QuadBiquad tone[2];
    QuadBiquad bbd[4]; // A, B on the left line, C, D on the right
    float tapePhase[4] = {};
    float tapeDir[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float lfoPhase = 0.0f;
    alignas(16) float wet[2][FRAME_SAMPLES] = {};
    alignas(16) float fb[2][FRAME_SAMPLES] = {};
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
};
