#pragma once
#include "audio/AudioBlock.h"
#include "dsp/DoubleBuffer.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/AlignedArray.h"
#include "effects/BlockHelpers.h"

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;
class Tempo;

// LFO shape tables shared by the modulation and delay blocks: one cycle of 45 points (entries
// 0..44) repeated in entries 45..89, so that a phase up to 45 plus one neighbour and an offset up to
// 45 are read without wrapping. Values lie in 0..1. Built once, during start-up, before any block
// that reads them runs.
inline constexpr int kShapePoints = 45;
extern float referenceShapeSin[2 * kShapePoints];
extern float referenceShapeTriang[2 * kShapePoints];
extern float referenceShapeSquare[2 * kShapePoints];
extern bool referenceShapeInitialized;
void modulationsEngine_initReferenceShapes();

// The table of a "shape" option index: 0 "Triang", 1 "Sin", 2 "Square" (anything else: the triangle).
inline const float* lfoShapeTable(int option) {
    return option == 1 ? referenceShapeSin : option == 2 ? referenceShapeSquare : referenceShapeTriang;
}
// The table value at integer point j plus fraction f (linear interpolation to j + 1).
inline float lfoShapeAt(const float* table, int j, float f) { return table[j] + f * (table[j + 1] - table[j]); }
// The table point of the right channel, whose LFO leads by `offset` points (a stereo phase), folded
// back into the table; its fraction goes to `fraction`.
inline int lfoRightPoint(float phase, float offset, float& fraction) {
    const float p = phase + offset;
    int jR = static_cast<int>(p);
    fraction = p - static_cast<float>(jR);
    if (jR >= kShapePoints + 1)
        jR -= kShapePoints;
    return jR;
}
// Table points per sample for a rate in Hz: 45 points per cycle at 48 kHz.
inline constexpr float kShapePointsPerHzSample = 0.0009375f;

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
    static inline float phaserStageExec(AllpassStage& s, float a, float x) {
        const float y = a * (x + s.lastOut) - s.lastIn;
        s.lastIn = x;
        s.lastOut = y;
        return y;
    }
    static void phaserAllpass_init(AllpassStage& s) { s = AllpassStage{}; }

    // What glides in exec, by index into Coeffs::target, glides and now.
    enum Param {
        DEPTH,       // modulation depth m, samples
        G1, G2,      // second and third tap gains (the first is 1)
        FEEDBACK,
        SWEEP_MIN, SWEEP_MAX, // angular frequencies of the phaser sweep
        DRY, WET,
        OFFSET,      // right channel's LFO lead, points
        TR_DEPTH,    // 0..1
        TR_WAVE,     // square share of the tremolo shape, 0..1
        TR_OFFSET,   // points
        kParams
    };

    // The switch, mode and LFO shape as the audio has them (compile thread).
    struct Structure {
        bool on = false;
        int mode = CHORUS;
        int shape = 0; // "Triang", "Sin", "Square"
        bool operator==(const Structure&) const = default;
    };

    // Everything exec reads, handed over whole from compile.
    struct Coeffs {
        bool on;
        int mode;
        const float* shape; // LFO table of the chorus, flanger and phaser
        float d0;           // first tap's delay, samples
        float increment;    // LFO points per sample
        float trIncrement;
        float target[kParams];
    };

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

    DoubleBuffer<Coeffs> coeffs;

    // Audio-thread state.
    AlignedArray<float> lineL{kLineSize};
    AlignedArray<float> lineR{kLineSize};
    unsigned writeIndex = 0;
    bool linesStale = false; // the lines missed audio (phaser, idle): cleared before they are read
    // What enters the lines: cleared lines take the input in with a glide, so that where the new
    // audio begins (at the fade's floor, not at silence) is no step the taps would play later.
    Glide feed{1.0f};
    // The mode and shape exec last ran with: a change moves the taps at once, and what the taps read
    // then must not go back into the lines, so the feedback starts again from 0.
    int heardMode = CHORUS;
    const float* heardShape = referenceShapeTriang;
    GlidingBiquad tone[2];
    AllpassStage stages[2][4];
    float phase = 0.0f;
    float trPhase = 0.0f;
    Glide glides[kParams];
    Ramp now[kParams]; // this frame's part of each glide
    alignas(16) float wet[2][FRAME_SAMPLES] = {};
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
};
