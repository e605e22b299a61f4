#pragma once
#include "audio/AudioBlock.h"
#include "dsp/GlidingBiquad.h"
#include "dsp/ParamSet.h"
#include "dsp/QuadFIR.h"
#include "effects/BlockHelpers.h"

#include <cstdint>
#include <string>

class Node;
class NodeFloat;
class NodeList;
class NodeOnOff;
class NodeParList;

// The cabinet block: convolves the signal with one or two loudspeaker-cabinet impulse responses of
// 2048 samples at 48 kHz, chosen from a stored list of 50. With one response both channels go
// through it; with "Stereo IR" on, the left input goes through the first and the right input
// through the second, each with its own level, cut filters and constant-power pan, mixed to stereo.
//
// compile() on "compileLoop" compares the selected responses with the ones the convolvers hold on
// every pass, so an element rewritten over the remote side is noticed within 10 ms. A new response,
// like a switch, is loaded at the fade's quiet point, into convolvers whose history is cleared so it
// starts from clean lines. Levels and pans glide. exec runs on "audioLoop".
//
// A response is used only when it could be a cabinet's (responseRefusal): every sample finite, and
// the sum of the samples' magnitudes, the most the convolution can raise a signal's peak, between
// -60 dB and +60 dB. Uploads outside that are refused with the reason; a stored one (an older
// program's) is passed over as no response, said once in the log and marked on the screens.
class IrLoader : public AudioBlock {
public:
    static constexpr int kTaps = 2048;
    static constexpr int kElements = 50;
    // Bounds of the sum of |sample| (the response's largest gain for any signal), in dB.
    static constexpr double kMaxGainDb = 60.0;
    static constexpr double kMinGainDb = -60.0;

    // Why kTaps little-endian floats cannot be a cabinet's response; "" when they can. Also the
    // list's content check (any thread).
    static std::string responseRefusal(const uint8_t* data, int size);

    // listParent and listKey name the stored list of responses ("ir_list" under root).
    IrLoader(Node* parent, Node* listParent, const char* listKey);

    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff1; }
    bool isEnabled() const;
    void toggle();
    void setExtOnOff(bool on) { extOnOff.set(on); }
    NodeList* getList() const { return list; }

private:
    struct Mix {
        int enabled = 0;
        bool operator==(const Mix&) const = default;
    };
    enum Layout { BAND_LIMIT_ONLY, MONO, STEREO };
    // The switch, the paths and the two responses as the audio has them (compile thread).
    struct Structure {
        bool enabled = false;
        int layout = BAND_LIMIT_ONLY;
        alignas(16) float response[2][kTaps] = {};
        bool operator==(const Structure&) const = default;
    };

    // The selected element's samples, copied into candidate[path] (the remote side may be rewriting
    // the element meanwhile), when they could be a cabinet's; null otherwise. A single NaN or
    // infinity in a stored file would otherwise poison every block after this one for good.
    const float* usableResponse(NodeParList* ir, int path);

    fx::ExternalSwitch extOnOff;
    alignas(16) float scratch[FRAME_SAMPLES] = {};
    Structure structure;
    Structure live; // compile thread: what the nodes and the list say now
    // Path 1 into left and right, path 2 into left and right (pan times level).
    ParamSet<Mix> mix;
    const ParamSet<Mix>::Param weight[4] = {mix.add(GlideKind::Level, 1.0f), mix.add(GlideKind::Level),
                                            mix.add(GlideKind::Level), mix.add(GlideKind::Level, 1.0f)};
    alignas(16) float candidate[2][kTaps] = {}; // compile thread
    GlidingBiquad cut1, cut2;
    QuadFIR conv1{kTaps}, conv2{kTaps};
    // The element each path refused last (said once), "" for none; compile thread.
    std::string refused[2];

    NodeList* list = nullptr;
    NodeOnOff* onOff1 = nullptr;
    NodeParList* ir1 = nullptr;
    NodeFloat* loCut1 = nullptr;
    NodeFloat* hiCut1 = nullptr;
    NodeOnOff* onOff2 = nullptr;
    NodeParList* ir2 = nullptr;
    NodeFloat* loCut2 = nullptr;
    NodeFloat* hiCut2 = nullptr;
    NodeFloat* balance1 = nullptr;
    NodeFloat* balance2 = nullptr;
    NodeFloat* pan1 = nullptr;
    NodeFloat* pan2 = nullptr;
};
