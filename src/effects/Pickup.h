#pragma once
#include "audio/AudioBlock.h"
#include "dsp/ParamSet.h"
#include "dsp/QuadFIR.h"
#include "effects/BlockHelpers.h"

#include <atomic>

class NodeEnum;
class NodeOnOff;

// The pickup simulator, first in the chain: makes the guitar's pickup ("Input": the kind it has)
// sound like another ("Output") through a 1024-tap FIR filter loaded with the stored transfer
// response of that pair (PickupTable.h). It also applies the input gain the application gives it,
// whether the simulation is on or not. Left channel only; the right channel is never touched.
// compile runs on the compile thread and loads a response only when a selector changed; exec runs
// on the audio thread; setExtGain may be called from any thread. A change of switch or response is
// taken at the fade's quiet point; the input gain glides.
class Pickup : public AudioBlock {
public:
    // store: the selectors are device settings, stored on their own rather than in presets.
    Pickup(Node* parent, bool store);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    // Takes effect at the next compilation.
    void setExtOnOff(bool on) { external.set(on); }
    // Linear input gain; the audio glides to it from the next frame.
    void setExtGain(float gain) { inputGain.store(gain, std::memory_order_relaxed); }
    const QuadFIR& getFilter() const { return filter; }

private:
    fx::ExternalSwitch external;
    std::atomic<float> inputGain{1.0f};
    NodeEnum* input = nullptr;
    NodeEnum* output = nullptr;
    QuadFIR filter{1024};
    NodeOnOff* onOff = nullptr;

    // The switch and the response (table entry) as the audio has them (compile thread); no entry is
    // loaded at first.
    struct Structure {
        bool on = false;
        int table = -1;
        bool operator==(const Structure&) const = default;
    };
    Structure structure;
    int reportedIndex = -1; // an out-of-range entry is logged once per change
    // What exec reads beside the input gain: the switch.
    struct Fixed {
        bool on = false;
        bool operator==(const Fixed&) const = default;
    };
    ParamSet<Fixed> params;
    const ParamSet<Fixed>::Param gain = params.follow(GlideKind::Level, &inputGain);
};
