#pragma once
#include "audio/AudioBlock.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/ParamSet.h"
#include "effects/BlockHelpers.h"

#include <memory>
#include <vector>

class NodeFloat;
class NodeItem;

// A graphic equaliser of any number of peaking bands plus an output level, under a folder
// "eq_nbands". Each band is a node "band_<index>" in dB (-12..12) labelled with its frequency; the
// level ("level", dB) glides on the output of each channel. Never in the chain by
// itself: its owner sets the external on/off, calls compile and runs exec.
// compile runs on the compile thread, exec on the audio thread.
class BandEqN : public AudioBlock {
public:
    // Frequencies in Hz and Q factors are copied; with fewer (or more) Q factors than frequencies
    // every band gets Q 1.4. stereo: the right channel gets its own sections.
    BandEqN(Node* parent, std::vector<float> frequencies, std::vector<float> qFactors, bool stereo);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    float getQFactor(int band) const;
    void setExtOnOff(bool on) { external.set(on); }
    int getBandCount() const { return bandCount; }

private:
    static constexpr float kDefaultQ = 1.4f;

    fx::ExternalSwitch external;
    std::vector<float> frequencies;
    std::vector<float> qFactors;
    std::unique_ptr<GlidingBiquad[]> sections; // left bands, then (stereo) right bands
    std::vector<std::unique_ptr<char[]>> keys;
    std::vector<std::unique_ptr<char[]>> labels;
    int sectionCount;
    int bandCount;
    bool stereo;
    // What exec reads beside the level: the switch (the owner's), handed over with it.
    struct Fixed {
        bool on = false;
        bool operator==(const Fixed&) const = default;
    };
    ParamSet<Fixed> params;
    const ParamSet<Fixed>::Param levelGain = params.add(GlideKind::Level); // linear
    NodeItem* folder = nullptr;
    std::vector<NodeFloat*> bands;
    NodeFloat* level = nullptr;
};
