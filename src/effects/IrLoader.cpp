#include "effects/IrLoader.h"

#include "audio/AudioProcessor.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeList.h"
#include "params/NodeOnOff.h"
#include "params/NodeParList.h"
#include "porting/Log.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
constexpr const char* kTag = "IrLoader";
// pi / 400: -100 % pans to angle 0 (left only), +100 % to pi/2 (right only).
constexpr double kPanStep = 0.007853981633974483;
// 1.0 then silence: the response of a cabinet that is not there.
const float* unitImpulse()
{
    static const auto* impulse = [] {
        auto* taps = new float[IrLoader::kTaps]();
        taps[0] = 1.0f;
        return taps;
    }();
    return impulse;
}
} // namespace

IrLoader::IrLoader(Node* parent, Node* listParent, const char* listKey)
    : AudioBlock("IrLoader", parent, &IrLoader::exec, BLOCK_APPEND)
{
    list = new NodeList(listParent, listKey, "IR list", "wav_48000", kTaps * 4, kElements, 128, false);
    list->setContentCheck(&IrLoader::responseRefusal);

    onOff1 = fx::makeEnable(parent);
    ir1 = new NodeParList(parent, "ir", "IR (Mono - 1)", "", list);
    ir1->setOnChange(AudioProcessor::debounce);
    loCut1 = fx::makeFrequency(parent, "lo_cut", "Lo Cut", 20.0f, 1000.0f, 20.0f, 0.2f);
    hiCut1 = fx::makeFrequency(parent, "hi_cut", "Hi Cut", 2000.0f, 20000.0f, 20000.0f, 0.5f, true);

    auto* folder = fx::makeFolder(parent, "ir2", "Stereo IR");
    onOff2 = fx::makeEnable(folder);
    ir2 = new NodeParList(folder, "ir", "IR (Stereo - 2)", "", list);
    ir2->setOnChange(AudioProcessor::debounce);
    loCut2 = fx::makeFrequency(folder, "lo_cut", "Lo Cut", 20.0f, 1000.0f, 20.0f, 0.2f);
    hiCut2 = fx::makeFrequency(folder, "hi_cut", "Hi Cut", 2000.0f, 20000.0f, 20000.0f, 0.5f, true);
    balance1 = fx::makeLevelDb(folder, "balance1", "Level IR 1", -20.0f, 20.0f, 0.0f);
    balance2 = fx::makeLevelDb(folder, "balance2", "Level IR 2", -20.0f, 20.0f, 0.0f);
    pan1 = fx::makeFloat(folder, {.key = "pan1",
                                  .label = "Pan IR 1",
                                  .min = -100.0f,
                                  .max = 100.0f,
                                  .def = -100.0f,
                                  .unit = "%",
                                  .decimals = 0});
    pan2 = fx::makeFloat(
        folder,
        {.key = "pan2", .label = "Pan IR 2", .min = -100.0f, .max = 100.0f, .def = 100.0f, .unit = "%", .decimals = 0});
}

bool IrLoader::isEnabled() const
{
    return onOff1->isValue(NodeOnOff::ON);
}

void IrLoader::toggle()
{
    onOff1->setValue(isEnabled() ? NodeOnOff::OFF : NodeOnOff::ON);
}

std::string IrLoader::responseRefusal(const uint8_t* data, int size)
{
    if (size < int(sizeof(float)) * kTaps) return "impulse response too short";
    double gain = 0.0;
    for (int k = 0; k < kTaps; ++k) {
        float tap;
        std::memcpy(&tap, data + k * sizeof tap, sizeof tap);
        if (!std::isfinite(tap)) return "impulse response sample " + std::to_string(k) + " not a number";
        gain += std::fabs(double(tap));
    }
    char text[80];
    const double db = gain > 0.0 ? 20.0 * std::log10(gain) : -INFINITY;
    if (db > kMaxGainDb)
        std::snprintf(text, sizeof text, "impulse response too loud: %+.0f dB, at most %+.0f", db, kMaxGainDb);
    else if (db < kMinGainDb)
        std::snprintf(text, sizeof text, "impulse response silent: %+.0f dB, at least %+.0f", db, kMinGainDb);
    else return std::string();
    return text;
}

const float* IrLoader::usableResponse(NodeParList* ir, int path)
{
    float* samples = candidate[path];
    const bool present = ir->copyData(samples);
    const std::string why =
        present ? responseRefusal(reinterpret_cast<const uint8_t*>(samples), int(sizeof candidate[path])) : "";
    ir->setUnplayable(!why.empty());
    const std::string name = why.empty() ? std::string() : ir->getValue();
    if (!name.empty() && name != refused[path])
        LOG_W(kTag, "Impulse response \"%s\" passed over: %s\n", name.c_str(), why.c_str());
    refused[path] = name;
    return present && why.empty() ? samples : nullptr;
}

bool IrLoader::compile()
{
    const bool on1 = onOff1->isValue(NodeOnOff::ON);
    const bool on2 = onOff2->isValue(NodeOnOff::ON);
    const float* d1 = usableResponse(ir1, 0);
    const float* d2 = usableResponse(ir2, 1);

    live.enabled = fx::isOn(onOff1, extOnOff.get());
    live.layout = !on1 || !d1 ? BAND_LIMIT_ONLY : on2 && d2 ? STEREO : MONO;
    // Without a response to play, the enabled block still band-limits through a unit impulse.
    const bool play = live.enabled && d1;
    std::memcpy(live.response[0], play ? d1 : unitImpulse(), sizeof live.response[0]);
    std::memcpy(live.response[1], play ? (on2 && d2 ? d2 : d1) : unitImpulse(), sizeof live.response[1]);
    // The responses are compared with what the convolvers hold, so that a selection, a switch or an
    // element rewritten over the remote side is loaded once, at the fade's quiet point.
    if (fx::takeStructure(structure, live)) {
        conv1.load(structure.response[0]);
        conv2.load(structure.response[1]);
        // A new response starts from clean lines.
        conv1.resetStatus();
        conv2.resetStatus();
    }

    mix.fixed().enabled = structure.enabled ? 1 : 0;
    float w[4];
    if (structure.layout == STEREO) {
        cut1.set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(loCut1->getValue(), hiCut1->getValue(), 1.0f); });
        cut2.set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(loCut2->getValue(), hiCut2->getValue(), 1.0f); });
        // The levels ride on the pans, which glide in exec.
        const float level1 = std::pow(10.0f, balance1->getValue() * 0.05f);
        const float level2 = std::pow(10.0f, balance2->getValue() * 0.05f);
        const float a1 = static_cast<float>((pan1->getValue() + 100.0) * kPanStep);
        const float a2 = static_cast<float>((pan2->getValue() + 100.0) * kPanStep);
        w[0] = std::cos(a1) * level1;
        w[1] = std::sin(a1) * level1;
        w[2] = std::cos(a2) * level2;
        w[3] = std::sin(a2) * level2;
    } else {
        // Mono: both paths through the first cuts; without a response, only the band limits.
        const bool mono = structure.layout == MONO;
        const float lo = mono ? loCut1->getValue() : 20.0f, hi = mono ? hiCut1->getValue() : 20000.0f;
        for (GlidingBiquad* cut : {&cut1, &cut2})
            cut->set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(lo, hi, 1.0f); });
        // The first path to the left output only, the second to the right only.
        w[0] = 1.0f;
        w[1] = 0.0f;
        w[2] = 0.0f;
        w[3] = 1.0f;
    }
    for (int j = 0; j < 4; ++j) mix.set(weight[j], w[j]);
    mix.publish();
    return false;
}

bool IrLoader::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<IrLoader*>(block);
    if (!self->mix.read().enabled) return false;
    self->mix.advance(FRAME_SAMPLES);
    self->conv2.exec(frame[1], frame[1], FRAME_SAMPLES);
    self->conv1.exec(frame[0], frame[0], FRAME_SAMPLES);
    self->cut2.exec(frame[1], frame[1], FRAME_SAMPLES);
    self->cut1.exec(frame[0], self->scratch, FRAME_SAMPLES);
    Ramp w[4];
    for (int j = 0; j < 4; ++j) w[j] = self->mix[self->weight[j]];
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        const float a = self->scratch[i], b = frame[1][i];
        frame[0][i] = w[0].at(i) * a + w[2].at(i) * b;
        frame[1][i] = w[1].at(i) * a + w[3].at(i) * b;
    }
    return false;
}

void IrLoader::resetState()
{
    conv1.reset();
    conv2.reset();
    cut1.reset();
    cut2.reset();
}
