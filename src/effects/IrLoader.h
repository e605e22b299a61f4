#pragma once
#include "audio/AudioBlock.h"
#include "dsp/DoubleBuffer.h"
#include "dsp/QuadBiquad.h"
#include "dsp/QuadFIR.h"
#include "effects/BlockHelpers.h"

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
// compile() on "compileLoop" copies the selected responses from the list on every pass (so an
// element rewritten over the remote side is heard within 10 ms) and hands them to the convolvers,
// which publish each tap set whole; at the fade's quiet point it asks the convolvers to clear their
// history, so a new selection starts from clean lines. exec runs on "audioLoop".
class IrLoader : public AudioBlock {
public:
    static constexpr int kTaps = 2048;
    static constexpr int kElements = 50;

    // listParent and listKey name the stored list of responses ("ir_list" under root).
    IrLoader(Node* parent, Node* listParent, const char* listKey);

    bool compile() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    NodeOnOff* getOnOff() const { return onOff1; }
    bool isEnabled() const;
    void toggle();
    void setExtOnOff(bool on) { extOnOff.set(on); }
    NodeList* getList() const { return list; }

private:
    struct Mix {
        int enabled;
        float pan1Cos, pan1Sin;
        float pan2Cos, pan2Sin;
    };

    // The element's samples when every one is a finite number; null otherwise. A single NaN or
    // infinity in an uploaded file would otherwise poison every block after this one for good.
    const float* usableResponse(NodeParList* ir, int path);

    fx::ExternalSwitch extOnOff;
    alignas(16) float scratch[FRAME_SAMPLES] = {};
    float level2 = 0.0f;
    float level1 = 0.0f;
    DoubleBuffer<Mix> mix;
    alignas(16) float response1[kTaps] = {};
    alignas(16) float response2[kTaps] = {};
    QuadBiquad cut1, cut2;
    QuadFIR conv1{kTaps}, conv2{kTaps};
    bool refused[2] = {false, false};

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
