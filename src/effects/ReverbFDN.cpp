#include "effects/ReverbFDN.h"

#include "audio/AudioProcessor.h"
#include "dsp/DryWet.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeOnOff.h"

#include <cmath>
#include <cstring>

namespace {
// Triangle sweeps of the four lines: step per sample (about 0.31, 0.43, 0.53 and 0.67 Hz) and how
// far each line's read point travels, in samples, at full modulation depth.
constexpr float kLfoStep[ReverbFDN::kLines] = {1.29e-5f, 1.79e-5f, 2.21e-5f, 2.79e-5f};
constexpr float kLfoSpan[ReverbFDN::kLines] = {11.0f, 47.0f, 107.0f, 89.0f};
constexpr unsigned kMask = ReverbFDN::kRingSize - 1;

// Every mode reads the same lines: their lengths, and each line's share of the wet output.
struct Lines {
    float length[ReverbFDN::kLines];
    float weight[ReverbFDN::kLines];
    Lines()
    {
        float sum = 0.0f;
        for (int len : ReverbFDN::GALAXY_DELAY) sum += static_cast<float>(len);
        for (int i = 0; i < ReverbFDN::kLines; ++i) {
            length[i] = static_cast<float>(ReverbFDN::GALAXY_DELAY[i]);
            weight[i] = 0.5f * length[i] / sum;
        }
    }
};
const Lines kLineSet;
} // namespace

ReverbFDN::ReverbFDN(Node* parent) : AudioBlock("ReverbFDN", parent, &ReverbFDN::exec, BLOCK_APPEND)
{
    for (auto& a : allpass) a = std::make_unique<SchroederAllPass>(2048);

    onOff = fx::makeEnable(parent);
    mode = new NodeEnum(parent, "mode", "Mode", {"ROOM", "HALL", "GALAXY"}, "ROOM");
    decay = fx::makeUnit(parent, "decay", "Decay", 0.2f, 0.2f, true);
    mix = fx::makeUnit(parent, "mix", "Dry-Wet", 0.5f, 0.5f, true);
    modulation = fx::makeFloat(
        parent, {.key = "mod", .label = "Modulation", .min = 0.0f, .max = 100.0f, .def = 25.0f, .unit = "%"});
    hiDamp = fx::makeFloat(parent, {.key = "hi_damp",
                                    .label = "Hi Damp",
                                    .min = 900.0f,
                                    .max = 18000.0f,
                                    .def = 10000.0f,
                                    .unit = "Hz",
                                    .shape = 0.2f,
                                    .inverted = true,
                                    .linkable = true});
    loDamp = fx::makeFloat(parent, {.key = "lo_damp",
                                    .label = "Lo Damp",
                                    .min = 20.0f,
                                    .max = 1200.0f,
                                    .def = 20.0f,
                                    .unit = "Hz",
                                    .shape = 0.2f,
                                    .linkable = true});
}

bool ReverbFDN::compile()
{
    fx::takeStructure(on, fx::isOn(onOff, extOnOff.get()));
    ParamSet<Coeffs>& p = params;
    p.fixed().active = on;

    const float d = decay->getValue();
    const float T = mode->isValue("HALL")     ? 1.0f + 2.0f * d
                    : mode->isValue("GALAXY") ? 2.0f + 28.0f * d
                                              : 0.1f + 0.9f * d;
    for (int i = 0; i < kLines; ++i) {
        const float a = static_cast<float>(GALAXY_DELAY_ALLPASS[i]);
        allpass[i]->compile(std::exp(-0.6568152f * a / static_cast<float>(GALAXY_DELAY_ALLPASS[0])),
                            static_cast<unsigned>(GALAXY_DELAY_ALLPASS[i]));
    }
    const double r = std::exp(-6.907755278982137 / (static_cast<double>(T) * 48000.0));
    for (int i = 0; i < kLines; ++i) {
        const float fb = static_cast<float>(std::pow(r, GALAXY_DELAY[i]));
        damping[i].set(
            [&](QuadBiquad& q) { q.set_lohi_cut_1_order(loDamp->getValue(), hiDamp->getValue(), fb * 0.5f); });
    }
    p.set(modDepth, modulation->getValue() * 0.008f + 0.2f);

    const DryWet g = dryWet(mix->getValue(), on, dryWetCurve);
    p.set(dryGain, g.dry);
    p.set(wetGain, g.wet);
    p.publish();
    return false;
}

bool ReverbFDN::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<ReverbFDN*>(block);
    ParamSet<Coeffs>& p = self->params;
    const Coeffs& c = p.read();
    p.advance(FRAME_SAMPLES);
    std::memcpy(self->dry, frame, sizeof(self->dry));
    if (!c.active) std::memset(frame, 0, sizeof(float) * FRAME_CHANNELS * FRAME_SAMPLES);

    const Ramp& depth = p[self->modDepth];
    float* ring = self->rings.data();
    const unsigned wp = self->writePos;
    for (int i = 0; i < kLines; ++i) {
        const float* r = ring + i * kRingSize;
        TriangleLfo<> sweep = self->sweep[i];
        const float step = kLfoStep[i];
        for (int k = 0; k < FRAME_SAMPLES; ++k) {
            const float v = sweep.bounce(step, 16.0f * step, 1.0f);
            // Read point: length + 1 behind this sample's write, pushed back by the sweep.
            const float back = kLineSet.length[i] + 1.0f + depth.at(k) * v * kLfoSpan[i];
            const float fl = std::floor(back);
            const float f = back - fl;
            const unsigned a = (wp + static_cast<unsigned>(k) - static_cast<unsigned>(fl)) & kMask;
            self->line[i][k] = (1.0f - f) * r[a] + f * r[(a - 1) & kMask];
        }
        self->sweep[i] = sweep;
    }
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        self->wet[0][k] = kLineSet.weight[0] * self->line[0][k] + kLineSet.weight[1] * self->line[1][k];
        self->wet[1][k] = kLineSet.weight[2] * self->line[2][k] + kLineSet.weight[3] * self->line[3][k];
    }
    for (int i = 0; i < kLines; ++i) {
        self->damping[i].exec(self->line[i], self->line[i], FRAME_SAMPLES);
        self->allpass[i]->exec(self->line[i], self->diffused[i], FRAME_SAMPLES);
    }
    const Ramp fade = fx::fadeRamp();
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        const float in = (frame[0][k] + frame[1][k]) * fade.at(k) * 0.707f;
        const float l0 = self->diffused[0][k], l1 = self->diffused[1][k];
        const float l2 = self->diffused[2][k], l3 = self->diffused[3][k];
        const float a = l0 + in;
        const unsigned w = (wp + static_cast<unsigned>(k)) & kMask;
        ring[w] = (a + l1) + l2 + l3;
        ring[kRingSize + w] = (l2 - l3) + (a - l1);
        ring[2 * kRingSize + w] = (a + l1) - (l2 + l3);
        ring[3 * kRingSize + w] = (l3 - l2) + (a - l1);
    }
    self->writePos = (wp + FRAME_SAMPLES) & kMask;
    for (int ch = 0; ch < FRAME_CHANNELS; ++ch)
        for (int k = 0; k < FRAME_SAMPLES; ++k)
            frame[ch][k] = p[self->dryGain].at(k) * self->dry[ch][k] + p[self->wetGain].at(k) * self->wet[ch][k];
    return false;
}

void ReverbFDN::resetState()
{
    std::fill_n(rings.data(), rings.size(), 0.0f);
    for (int i = 0; i < kLines; ++i) {
        allpass[i]->reset();
        damping[i].reset();
    }
}
