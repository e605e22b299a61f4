#pragma once
#include "audio/AudioBlock.h"
#include "dsp/DoubleBuffer.h"
#include "dsp/QuadBiquad.h"
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

// The table value at integer point j plus fraction f (linear interpolation to j + 1).
inline float lfoShapeAt(const float* table, int j, float f) { return table[j] + f * (table[j + 1] - table[j]); }
// Table points per sample for a rate in Hz: 45 points per cycle at 48 kHz.
inline constexpr float kShapePointsPerHzSample = 0.0009375f;

// The modulation block: chorus, flanger or phaser, followed by a tremolo, with tempo-linkable rates.
// Two instances: "pre" (before the amp-model players, prepended) and "post" (after the equaliser,
// appended), which alone has the "Stereo Phase" controls. The block always runs: "Enable" OFF acts
// through dry 1 / wet 0 and a tremolo depth of 0, while the delay lines keep filling, so switching
// on never replays stale audio.
//
// compile() on "compileLoop" turns the nodes into one coefficient set, published whole; exec and the
// three processing paths run on "audioLoop". Rates in Hz, delays in samples at 48 kHz.
class ModulationsEngine : public AudioBlock {
public:
    static constexpr int kLineSize = 2048;

    ModulationsEngine(Node* parent, Tempo* tempo, bool post);
    ModulationsEngine(Node* parent, Tempo* tempo);

    bool compile() override;
    static bool exec(AudioBlock* block, AudioFrame frame);
    static bool timeBasedModulationsExec(AudioBlock* block, AudioFrame frame);
    static bool phaseBasedModulationsExec(AudioBlock* block, AudioFrame frame);
    static bool levelBasedModulationsExec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    NodeOnOff* getTremoloOnOff() const { return trOnOff; }
    void setExtOnOff(bool on) { extOnOff.set(on); }

    // 1 for a positive argument, else -1.
    static float sign(float x) { return x > 0.0f ? 1.0f : -1.0f; }

private:
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

    // Everything exec reads, handed over whole from compile.
    struct Coeffs {
        const float* shape; // LFO table of the chorus, flanger and phaser
        float increment;    // LFO points per sample
        int offset;         // right channel's LFO lead, points
        float d0, d1, d2;   // base delays, samples
        float g0, g1, g2;   // tap gains
        float depth;        // modulation depth m, samples
        float feedback;
        bool phaser;
        float sweepMin, sweepMax; // angular frequencies of the phaser sweep
        float dry, wet;
        float trIncrement;
        int trOffset;
        float trDepth; // 0..1
        float trWave;  // square share of the tremolo shape, 0..1
    };

    void buildNodes(Node* parent, Tempo* tempo);

    const bool post;
    fx::ExternalSwitch extOnOff;
    int enabled = 0;

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
    QuadBiquad tone[2];
    AllpassStage stages[2][4];
    float phase = 0.0f;
    float trPhase = 0.0f;
    alignas(16) float wet[2][FRAME_SAMPLES] = {};
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
};
