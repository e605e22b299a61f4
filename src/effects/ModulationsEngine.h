#pragma once
#include "audio/AudioBlock.h"
#include "dsp/AlignedArray.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/ParamSet.h"
#include "dsp/StereoLfo.h"
#include "effects/BlockHelpers.h"

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;
class Tempo;

// The modulation block: chorus, flanger or phaser, followed by a tremolo, with tempo-linkable rates.
// Two instances: "pre" (before the amp-model players, prepended) and "post" (after the equaliser,
// appended), which alone has the "Stereo Phase" controls. "Enable" OFF acts through dry 1 / wet 0
// and a tremolo depth of 0; once those have glided there the block stops working until it is
// switched on again, and then starts from cleared lines, so it never replays stale audio.
//
// compile() on "compileLoop" turns the nodes into one coefficient set, published whole: the switch,
// the mode and the LFO shape change at the fade's quiet point; depths, gains, the feedback, the
// phaser's sweep and the stereo phases glide in exec. exec and the three processing paths run on
// "audioLoop". Rates in Hz, delays in samples at 48 kHz.
class ModulationsEngine : public AudioBlock {
public:
    static constexpr int kLineSize = 2048;

    ModulationsEngine(Node* parent, Tempo* tempo, bool post);
    ModulationsEngine(Node* parent, Tempo* tempo);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);
    // The three paths run on the glides exec has advanced for the frame.
    static bool timeBasedModulationsExec(AudioBlock* block, AudioFrame frame);
    static bool phaseBasedModulationsExec(AudioBlock* block, AudioFrame frame);
    static bool levelBasedModulationsExec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    NodeOnOff* getTremoloOnOff() const { return trOnOff; }
    void setExtOnOff(bool on) { extOnOff.set(on); }

    // 1 for a positive argument, else -1.
    static float sign(float x) { return x > 0.0f ? 1.0f : -1.0f; }

private:
    enum Mode { CHORUS, FLANGER, PHASER };

    struct AllpassStage {
        float lastIn = 0.0f;
        float lastOut = 0.0f;
    };
    // y = a (x + previous y) - previous x: a first-order allpass.
    static inline float phaserStageExec(AllpassStage& s, float a, float x)
    {
        const float y = a * (x + s.lastOut) - s.lastIn;
        s.lastIn = x;
        s.lastOut = y;
        return y;
    }
    static void phaserAllpass_init(AllpassStage& s) { s = AllpassStage{}; }

    // The switch, mode and LFO shape as the audio has them (compile thread).
    struct Structure {
        bool on = false;
        int mode = CHORUS;
        int shape = 0; // "Triang", "Sin", "Square"
        bool operator==(const Structure&) const = default;
    };

    // What exec reads beside the glides.
    struct Coeffs {
        bool on = false;
        int mode = CHORUS;
        const float* shape = referenceShapeTriang; // LFO table of the chorus, flanger and phaser
        float d0 = 783.0f; // first tap's delay, samples
        float increment = 0.0f; // LFO points per sample
        float trIncrement = 0.0f;
        bool operator==(const Coeffs&) const = default;
    };

    using Param = ParamSet<Coeffs>::Param;

    void buildNodes(Node* parent, Tempo* tempo);

    const bool post;
    fx::ExternalSwitch extOnOff;
    Structure structure;

    NodeOnOff* onOff = nullptr;
    NodeEnum* mode = nullptr;
    fx::TempoLink rate;
    NodeFloat* depthNode = nullptr;
    NodeFloat* mix = nullptr;
    NodeFloat* emphasis = nullptr;
    NodeEnum* shape = nullptr;
    NodeFloat* hiCut = nullptr;
    NodeFloat* loCut = nullptr;
    NodeFloat* sphase = nullptr;
    NodeOnOff* trOnOff = nullptr;
    fx::TempoLink trRate;
    NodeFloat* trDepth = nullptr;
    NodeFloat* trWave = nullptr;
    NodeFloat* trSphase = nullptr;

    // Read positions glide slowly (a quick move bends the pitch); gains and the sweep like levels.
    ParamSet<Coeffs> params;
    const Param depth = params.add(GlideKind::Position); // modulation depth m, samples
    const Param g1 = params.add(GlideKind::Level); // second and third tap gains
    const Param g2 = params.add(GlideKind::Level);
    const Param feedback = params.add(GlideKind::Level);
    // Angular frequencies of the phaser sweep.
    const Param sweepMin = params.add(GlideKind::Level, 1655.0f);
    const Param sweepMax = params.add(GlideKind::Level, 1655.0f);
    const Param dryGain = params.add(GlideKind::Level, 1.0f);
    const Param wetGain = params.add(GlideKind::Level);
    const Param offset = params.add(GlideKind::Position); // right LFO's lead, points
    const Param tremoloDepth = params.add(GlideKind::Level); // 0..1
    const Param tremoloWave = params.add(GlideKind::Level); // square share, 0..1
    const Param tremoloOffset = params.add(GlideKind::Position);
    // What enters the lines: cleared lines take the input in with a glide, so that where the new
    // audio begins (at the fade's floor, not at silence) is no step the taps would play later.
    const Param feed = params.add(GlideKind::Level, 1.0f);

    // Audio-thread state.
    AlignedArray<float> lineL{kLineSize};
    AlignedArray<float> lineR{kLineSize};
    unsigned writeIndex = 0;
    bool linesStale = false; // the lines missed audio (phaser, idle): cleared before they are read
    // The mode and shape exec last ran with: a change moves the taps at once, and what the taps read
    // then must not go back into the lines, so the feedback starts again from 0.
    int heardMode = CHORUS;
    const float* heardShape = referenceShapeTriang;
    GlidingBiquad tone[2];
    AllpassStage stages[2][4];
    StereoLfo lfo;
    StereoLfo trLfo;
    alignas(16) float wet[2][FRAME_SAMPLES] = {};
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
};
