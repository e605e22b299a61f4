#pragma once
#include "audio/AudioBlock.h"
#include "dsp/GlidingBiquad.h"
#include "effects/BlockHelpers.h"

#include <atomic>

class BandEqN;
class NodeEnum;
class NodeFloat;
class NodeOnOff;

// The stereo equaliser after the cabinet: a low cut and a high cut of selectable slope ("OFF",
// "6dB/oct", "12dB/oct", "24dB/oct" Butterworth), then an eight-band graphic equaliser (100 Hz to
// 12.8 kHz in octaves, Q 1.41) with an output level. "lo_cut"/"hi_cut" in Hz.
// compile runs on the compile thread and recomputes every coefficient (the filter memories are
// kept); the switch and the slopes change at the fade's quiet point. exec runs on the audio thread.
class Equalizer : public AudioBlock {
public:
    explicit Equalizer(Node* parent);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    void setExtOnOff(bool on) { external.set(on); }

private:
    // One cut: two sections per channel.
    struct CutPair {
        GlidingBiquad a, b;
    };
    // slope: the option index of "lo_slope"/"hi_slope".
    void setCut(CutPair& pair, bool high, float hz, int slope);

    // The switch and the slopes as the audio has them (compile thread).
    struct Structure {
        bool on = false;
        int loSlope = 0;
        int hiSlope = 0;
        bool operator==(const Structure&) const = default;
    };
    Structure structure;
    std::atomic<int> enabled{0};
    NodeOnOff* onOff = nullptr;
    BandEqN* bands = nullptr;
    NodeFloat* loCut = nullptr;
    NodeEnum* loSlope = nullptr;
    NodeFloat* hiCut = nullptr;
    NodeEnum* hiSlope = nullptr;
    CutPair lowRight, lowLeft, highRight, highLeft;
    fx::ExternalSwitch external;
};
