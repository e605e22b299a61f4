#pragma once
#include "audio/AudioBlock.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/ParamSet.h"
#include "dsp/QuadBiquad.h"
#include "dsp/QuadComp.h"
#include "effects/BlockHelpers.h"

#include <atomic>

class NodeEnum;
class NodeFloat;
class NodeOnOff;
class NodePreset;

// The compressor block, on the left channel only (the chain is mono up to the amp-model players).
// Two modes: "Dyn", a feedback compressor behind a fixed voicing filter with one "Sensitivity" knob
// and a high-shelf "Tone" (-7..+7 dB above 3200 Hz, flat at 50 %); and "Studio", the threshold /
// ratio / knee compressor of QuadComp. "Makeup" in dB, "Attack" and "Release" in ms (the time for a
// change by a factor of 9); "_stat" shows the current linear gain of the active mode.
// compile runs on the compile thread, exec on the audio thread.
class DynaComp : public AudioBlock {
public:
    // preset may be null; otherwise "_stat" is kept out of presets.
    DynaComp(Node* parent, NodePreset* preset);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff; }
    void setExtOnOff(bool on) { external.set(on); }

private:
    // What exec reads beside the make-up gain, published with it by compile.
    struct Coeffs {
        int enabled = 0;
        int mode = 0; // 0 "Dyn", 1 "Studio"
        float sensitivity = 0.0f; // "Sensitivity" x 1000
        float attack = 0.0f, attackInv = 1.0f;
        float release = 0.0f, releaseInv = 1.0f;
        bool operator==(const Coeffs&) const = default;
    };

    // The switch and the mode as the audio has them (compile thread).
    struct Structure {
        bool on = false;
        bool studio = false;
        bool operator==(const Structure&) const = default;
    };

    Structure structure;
    // The make-up gain glides, for both modes.
    ParamSet<Coeffs> params;
    const ParamSet<Coeffs>::Param makeupGain = params.add(GlideKind::Level, 1.0f); // linear
    // "Dyn": the sensitivity the gain is computed with (audio thread). It follows the knob no faster
    // than the gain may move for it (kSensitivitySlew).
    float sensitivityNow = 0.0f;
    // "Dyn" detector state (audio thread); the gain is also read by compile for "_stat".
    float envelope = 0.0f;
    std::atomic<float> gain{1.0f};
    QuadComp studio;
    QuadBiquad voicing;
    GlidingBiquad tone;
    alignas(16) float voiced[FRAME_SAMPLES] = {};
    fx::ExternalSwitch external;

    NodeOnOff* onOff = nullptr;
    NodeFloat* sensitivity = nullptr;
    NodeFloat* threshold = nullptr;
    NodeFloat* ratio = nullptr;
    NodeFloat* makeup = nullptr;
    NodeFloat* attack = nullptr;
    NodeFloat* release = nullptr;
    NodeFloat* toneNode = nullptr;
    NodeFloat* knee = nullptr;
    NodeEnum* mode = nullptr;
    NodeFloat* status = nullptr;
};
