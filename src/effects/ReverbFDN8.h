#pragma once
#include "audio/AudioBlock.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/ParamSet.h"
#include "dsp/SimpleDelay.h"
#include "effects/BlockHelpers.h"

#include <array>
#include <memory>

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;

// In-place 8-point Walsh-Hadamard transform of eight buffers, unnormalised, Sylvester order:
// output j = sum over i of (-1)^popcount(i AND j) x input i. The 16-sample form is the reverb's.
void hadamard8_frame(float* const* buffers, int count);
void hadamard8_frame16(float* const* buffers);

// The reverb of the chain: an eight-line feedback delay network. The input is spread over eight
// branches, smeared by four diffusion stages (each a delay per branch and a Hadamard mix), and fed
// into eight recirculating lines mixed by the normalised Hadamard matrix, damped by first-order
// filters and attenuated so that the tail falls 60 dB in the decay time. Modes "ROOM", "HALL",
// "GALAXY" set sizes and decay ranges; "SPRING" turns the same network into a spring emulation
// with its own controls.
//
// compile() on "compileLoop" sets the line lengths (the delay lines cross-fade to them), filters and
// one gain set published whole, whose gains glide in exec; the switch and the modes change at the
// fade's quiet point. exec on "audioLoop". Switched off, the network gets silence and its tail rings
// out while the dry signal passes at unity; once the whole network is silent the block stops working
// until it is switched on again.
class ReverbFDN8 : public AudioBlock {
public:
    static constexpr int kLines = 8;
    static constexpr int kStages = 4;

    explicit ReverbFDN8(Node* parent);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    void setExtOnOff(bool on) { extOnOff.set(on); }

    // Lengths in samples the last compile pass asked for (main lines; diffusion stage s, branch k).
    int getLineLength(int line) const { return lineLength[line]; }
    int getDiffusionLength(int stage, int branch) const { return diffLength[stage][branch]; }

private:
    // The switch and the modes as the audio has them (compile thread).
    struct Structure {
        bool active = false; // "Enable" and the external switch
        int mode = 0;
        int pickup = 1; // "md": "PRE", "POST", "POST+PRE"
        int damping = 1; // "dmp": "SOFT", "MEDIUM", "HARD"
        bool operator==(const Structure&) const = default;
    };
    // What exec reads beside the gains.
    struct Coeffs {
        bool active = false;
        bool operator==(const Coeffs&) const = default;
    };
    using Param = ParamSet<Coeffs>::Param;

    fx::ExternalSwitch extOnOff;
    Structure structure;

    NodeOnOff* onOff = nullptr;
    NodeEnum* mode = nullptr;
    NodeFloat* decay = nullptr;
    NodeFloat* mix = nullptr;
    NodeFloat* preDelay = nullptr;
    NodeFloat* diffusion = nullptr;
    NodeFloat* modulation = nullptr;
    NodeFloat* tension = nullptr;
    NodeFloat* tone = nullptr;
    NodeEnum* pickup = nullptr;
    NodeFloat* hiDamp = nullptr;
    NodeFloat* loDamp = nullptr;
    NodeEnum* dampMode = nullptr;
    NodeFloat* hiCut = nullptr;
    NodeFloat* loCut = nullptr;
    NodeFloat* spread = nullptr;

    // Gains, all gliding like levels.
    ParamSet<Coeffs> params;
    const std::array<Param, kLines> lineGain = params.addEach<kLines>(GlideKind::Level);
    const std::array<Param, kLines> diffusionGain[kStages] = {
        params.addEach<kLines>(GlideKind::Level), params.addEach<kLines>(GlideKind::Level),
        params.addEach<kLines>(GlideKind::Level), params.addEach<kLines>(GlideKind::Level)};
    const Param spreadShare = params.add(GlideKind::Level); // 0..1
    const Param dryGain = params.add(GlideKind::Level);
    const Param wetGain = params.add(GlideKind::Level, 1.0f);
    // 1 active, 0 not: the network's input opens and closes without a step.
    const Param input = params.add(GlideKind::Level);
    int lineLength[kLines] = {};
    int diffLength[kStages][kLines] = {};

    std::unique_ptr<SimpleDelay> lines[kLines];
    std::unique_ptr<SimpleDelay> diffusers[kStages][kLines];
    GlidingBiquad damping[kLines];
    GlidingBiquad outFilter[2];

    // Audio-thread state: what enters each line at the next frame, the diffusion branches, and the
    // dry, mono and wet frames.
    alignas(16) float lineBuf[kLines][FRAME_SAMPLES] = {};
    alignas(16) float diffBuf[kLines][FRAME_SAMPLES] = {};
    alignas(16) float dry[2][FRAME_SAMPLES] = {};
    alignas(16) float mono[FRAME_SAMPLES] = {};
    alignas(16) float wet[2][FRAME_SAMPLES] = {};
    unsigned quietSamples = 0; // samples in a row in which nothing audible entered the network
};
