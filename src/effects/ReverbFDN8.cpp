#include "effects/ReverbFDN8.h"

#include "audio/AudioProcessor.h"
#include "dsp/DryWet.h"
#include "effects/BlockHelpers.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// The eight rows apart (restrict), so that g++ runs the samples in vector lanes. Stages of two-point
// butterflies 1, 2 and 4 apart, each sample's eight values in registers.
void hadamard8(float* __restrict r0, float* __restrict r1, float* __restrict r2, float* __restrict r3,
               float* __restrict r4, float* __restrict r5, float* __restrict r6, float* __restrict r7, int count)
{
    for (int k = 0; k < count; ++k) {
        const float a0 = r0[k] + r1[k], a1 = r0[k] - r1[k], a2 = r2[k] + r3[k], a3 = r2[k] - r3[k];
        const float a4 = r4[k] + r5[k], a5 = r4[k] - r5[k], a6 = r6[k] + r7[k], a7 = r6[k] - r7[k];
        const float b0 = a0 + a2, b1 = a1 + a3, b2 = a0 - a2, b3 = a1 - a3;
        const float b4 = a4 + a6, b5 = a5 + a7, b6 = a4 - a6, b7 = a5 - a7;
        r0[k] = b0 + b4;
        r1[k] = b1 + b5;
        r2[k] = b2 + b6;
        r3[k] = b3 + b7;
        r4[k] = b0 - b4;
        r5[k] = b1 - b5;
        r6[k] = b2 - b6;
        r7[k] = b3 - b7;
    }
}
} // namespace

void hadamard8_frame(float* const* b, int count)
{
    hadamard8(b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], count);
}

void hadamard8_frame16(float* const* b)
{
    hadamard8_frame(b, FRAME_SAMPLES);
}

namespace {
// 1/sqrt(8): makes the Hadamard mix energy-preserving.
constexpr float kNorm = 0.35355338f;
constexpr int kMainSize = 16384;
constexpr int kDiffSize = 8192;

constexpr int kRoomLines[8] = {1297, 1709, 1979, 1811, 1693, 2003, 1601, 1279};
constexpr int kHallLines[8] = {1861, 2447, 3087, 3749, 3581, 2789, 2741, 2999};
constexpr int kGalaxyLines[8] = {4861, 2447, 3087, 3749, 3581, 6247, 7919, 2999};
constexpr int kSpringPrimes[8] = {1, 2, 3, 5, 7, 11, 13, 17};
constexpr float kSpringSigns[3][8] = {
    {1, -1, 1, 1, -1, 1, -1, -1}, {-1, 1, 1, -1, 1, 1, 1, -1}, {1, -1, -1, 1, 1, 1, -1, 1}};
// A spring's lines and diffusers are short: the cap keeps tension and pre delay within the spring.
constexpr float kSpringLineMax = 3840.0f;
constexpr float kSpringDiffMax = 1680.0f;

enum Mode { ROOM, HALL, GALAXY, SPRING };
} // namespace

ReverbFDN8::ReverbFDN8(Node* parent) : AudioBlock("ReverbFDN8", parent, &ReverbFDN8::exec, BLOCK_APPEND)
{
    for (int i = 0; i < kLines; ++i) {
        lines[i] = std::make_unique<SimpleDelay>(kMainSize);
        for (int s = 0; s < kStages; ++s) diffusers[s][i] = std::make_unique<SimpleDelay>(kDiffSize);
    }

    onOff = fx::makeEnable(parent);
    mode = new NodeEnum(parent, "mode", "Mode", {"ROOM", "HALL", "GALAXY", "SPRING"}, "ROOM");
    mode->setOnChange(AudioProcessor::debounce);
    decay = fx::makeUnit(parent, "decay", "Decay", 0.2f, 0.2f, true);
    mix = fx::makeUnit(parent, "mix", "Dry-Wet", 0.5f, 0.5f, true);
    preDelay = fx::makeFloat(
        parent,
        {.key = "pre_dly", .label = "Pre Delay", .min = 0.0f, .max = 100.0f, .def = 5.0f, .unit = "ms", .decimals = 1});
    diffusion = fx::makeUnit(parent, "diff", "Diffusion", 0.5f);
    modulation = fx::makePercent(parent, "mod", "Modulation", 25.0f, false);

    auto* tc = fx::makeFolder(parent, "tcfolder", "Tone and Character");
    tension = fx::makeUnit(tc, "tension", "Tension", 0.5f);
    tone = fx::makeUnit(tc, "tone", "Tone", 0.5f);
    pickup = new NodeEnum(tc, "md", "Spring Pickup", {"PRE", "POST", "POST+PRE"}, "POST");
    hiDamp = fx::makeFloat(tc, {.key = "hi_damp",
                                .label = "Hi Damp",
                                .min = 900.0f,
                                .max = 20000.0f,
                                .def = 10000.0f,
                                .unit = "Hz",
                                .shape = 0.2f,
                                .inverted = true,
                                .linkable = true});
    loDamp = fx::makeFloat(tc, {.key = "lo_damp",
                                .label = "Lo Damp",
                                .min = 20.0f,
                                .max = 1200.0f,
                                .def = 20.0f,
                                .unit = "Hz",
                                .shape = 0.2f,
                                .linkable = true});
    dampMode = new NodeEnum(tc, "dmp", "Damping Mode", {"SOFT", "MEDIUM", "HARD"}, "MEDIUM");
    hiCut = fx::makeFloat(tc, {.key = "hi_cut",
                               .label = "Hi Cut",
                               .min = 600.0f,
                               .max = 20000.0f,
                               .def = 12000.0f,
                               .unit = "Hz",
                               .shape = 0.2f,
                               .inverted = true,
                               .linkable = true});
    loCut = fx::makeFloat(tc, {.key = "lo_cut",
                               .label = "Lo Cut",
                               .min = 20.0f,
                               .max = 1200.0f,
                               .def = 20.0f,
                               .unit = "Hz",
                               .shape = 0.2f,
                               .linkable = true});
    spread = fx::makeFloat(
        tc, {.key = "spread", .label = "Stereo Spread", .min = 0.0f, .max = 100.0f, .def = 50.0f, .unit = "%"});
}

bool ReverbFDN8::compile()
{
    ParamSet<Coeffs>& p = params;
    fx::takeStructure(structure, Structure{fx::isOn(onOff, extOnOff.get()), std::max(0, mode->getIndex()),
                                           std::max(0, pickup->getIndex()), std::max(0, dampMode->getIndex())});
    p.fixed().active = structure.active;

    const int m = structure.mode;
    const bool spring = m == SPRING;
    // The screens follow the mode node at once.
    const bool springShown = mode->getIndex() == SPRING;
    tone->setStyleVisible(springShown);
    pickup->setStyleVisible(springShown);
    tension->setStyleVisible(springShown);
    loDamp->setStyleVisible(!springShown);
    hiDamp->setStyleVisible(!springShown);
    loCut->setStyleVisible(!springShown);
    diffusion->setStyleVisible(!springShown);
    dampMode->setStyleVisible(!springShown);

    const float P = preDelay->getValue() * 48.000004f;
    const float D = diffusion->getValue() * diffusion->getValue();
    const float spreadShareNow = spread->getValue() * 0.01f;
    p.set(spreadShare, spreadShareNow);
    const float dc = decay->getValue();
    const float extra = spreadShareNow * 487.0f;

    if (!spring) {
        const int* table = m == ROOM ? kRoomLines : m == HALL ? kHallLines : kGalaxyLines;
        const float T = m == ROOM ? 0.8f * std::sqrt(dc) + 0.2f : m == HALL ? 2.0f * dc + 1.0f : 28.0f * dc + 2.0f;
        const double r = std::exp(-6.907755278982137 / (static_cast<double>(T) * 48000.0));
        const int damped = 2 << structure.damping;
        for (int i = 0; i < kLines; ++i) {
            lineLength[i] = table[i];
            p.set(lineGain[i], static_cast<float>(kNorm * std::pow(r, table[i])));
            if (i < damped)
                damping[i].set(
                    [&](QuadBiquad& q) { q.set_lohi_cut_1_order(loDamp->getValue(), hiDamp->getValue(), 1.0f); });
            else damping[i].set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(20.0f, 20000.0f, 1.0f); });
        }
        for (int k = 0; k < kLines; ++k) {
            const float fk = static_cast<float>(k);
            const float mk = static_cast<float>(k + k * k / 8);
            float s0, s1, s2, s3;
            if (m == ROOM) {
                s0 = P + D * 31.0f * fk;
                s1 = D * 37.0f * mk + 461.0f;
                s2 = D * 23.0f * mk + 503.0f;
                s3 = D * 17.0f * fk + 433.0f;
            } else if (m == HALL) {
                s0 = P + D * 13.0f * (fk + 1.0f);
                s1 = D * (17.0f + 85.0f * fk);
                s2 = D * (27.0f + 81.0f * fk);
                s3 = D * 47.0f * (fk + 1.0f);
            } else {
                s0 = P + D * 29.0f * fk;
                s1 = D * 335.0f * fk;
                s2 = D * 111.0f * fk;
                s3 = D * 329.0f * fk;
            }
            diffLength[0][k] = static_cast<int>(s0) + (k >= 4 ? static_cast<int>(extra) : 0);
            diffLength[1][k] = static_cast<int>(s1);
            diffLength[2][k] = static_cast<int>(s2);
            diffLength[3][k] = static_cast<int>(s3);
            p.set(diffusionGain[0][k], m == GALAXY ? 0.07f : 0.125f);
            for (int s = 1; s < kStages; ++s) p.set(diffusionGain[s][k], kNorm);
        }
        outFilter[0].set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(loCut->getValue(), hiCut->getValue()); });
        outFilter[1].set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(loCut->getValue(), hiCut->getValue()); });
    } else {
        const float fbGain = (0.13f - 0.06f * dc) * dc + 0.26f;
        const float c = structure.pickup == 1 ? 0.0005f : structure.pickup == 0 ? 2e-06f : 2.8e-05f;
        const float t = tension->getValue();
        const float u = tone->getValue();
        const float cutoff = u * (19000.0f * u + 500.0f) + 1500.0f;
        for (int i = 0; i < kLines; ++i) {
            const float len = ((0.032f * t - 0.072f) * t + 0.07f + c * static_cast<float>(kSpringPrimes[i])) * 48000.0f;
            lineLength[i] = static_cast<int>(std::fmin(len, kSpringLineMax));
            p.set(lineGain[i], fbGain);
            damping[i].set([&](QuadBiquad& q) { q.set_hi_cut_1_order(cutoff); });
        }
        for (int k = 0; k < kLines; ++k) {
            const float fk = static_cast<float>(k);
            float s0 = (0.05f - 0.00375f * fk) * 48000.0f + P + (k >= 4 ? extra : 0.0f);
            diffLength[0][k] = static_cast<int>(std::fmin(s0, kSpringDiffMax));
            diffLength[1][k] = static_cast<int>(std::fmin((0.009f + 0.002625f * fk) * 48000.0f, kSpringDiffMax));
            diffLength[2][k] = static_cast<int>(std::fmin((0.01f + 0.001875f * fk) * 48000.0f, kSpringDiffMax));
            diffLength[3][k] = static_cast<int>(std::fmin((0.009f + 0.002875f * fk) * 48000.0f, kSpringDiffMax));
            p.set(diffusionGain[0][k], 0.125f);
            for (int s = 1; s < kStages; ++s) p.set(diffusionGain[s][k], kSpringSigns[s - 1][k] * kNorm);
        }
        outFilter[0].set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(150.0f, hiCut->getValue()); });
        outFilter[1].set([&](QuadBiquad& q) { q.set_lohi_cut_1_order(150.0f, hiCut->getValue()); });
    }
    for (int i = 0; i < kLines; ++i) {
        lines[i]->setDelay(lineLength[i]);
        for (int s = 0; s < kStages; ++s) diffusers[s][i]->setDelay(diffLength[s][i]);
    }

    const float md = modulation->getValue() * 0.01f;
    lines[0]->setModulation(2.2010416e-05f, md * 59.0f);
    lines[1]->setModulation(1.01875e-05f, md * 101.0f);
    lines[5]->setModulation(1.159375e-05f, md * 37.0f);
    lines[7]->setModulation(8.3125e-06f, md * 119.0f);

    const DryWet g = dryWet(mix->getValue(), structure.active, dryWetCurve);
    p.set(dryGain, g.dry);
    p.set(wetGain, g.wet);
    p.set(input, structure.active ? 1.0f : 0.0f);
    p.publish();
    return false;
}

namespace {
// What may enter the network once its tail has died away (-120 dBFS).
constexpr float kQuietLevel = 1e-6f;
// Silence must have passed every diffusion stage and the longest line before nothing is left.
constexpr unsigned kDrainSamples = kMainSize + ReverbFDN8::kStages * kDiffSize;

} // namespace

bool ReverbFDN8::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<ReverbFDN8*>(block);
    ParamSet<Coeffs>& p = self->params;
    const Coeffs& c = p.read();
    // Off, the network silent and the dry gain at 1: the frame would pass as it is.
    if (!c.active && self->quietSamples >= kDrainSamples && p.settled(self->dryGain, 1.0f) &&
        p.settled(self->input, 0.0f))
        return false;
    p.advance(FRAME_SAMPLES);
    std::memcpy(self->dry, frame, sizeof(self->dry));

    float* lineRows[kLines];
    float* diffRows[kLines];
    for (int i = 0; i < kLines; ++i) {
        lineRows[i] = self->lineBuf[i];
        diffRows[i] = self->diffBuf[i];
    }

    for (int i = 0; i < kLines; ++i) {
        float* b = self->lineBuf[i];
        self->lines[i]->exec(b, b, FRAME_SAMPLES);
        const Ramp gain = p[self->lineGain[i]];
        for (int k = 0; k < FRAME_SAMPLES; ++k) b[k] *= gain.at(k);
        self->damping[i].exec(b, b, FRAME_SAMPLES);
    }
    hadamard8_frame16(lineRows);

    const Ramp v = fx::fadeRamp();
    const Ramp& input = p[self->input];
    for (int k = 0; k < FRAME_SAMPLES; ++k) self->mono[k] = (frame[0][k] + frame[1][k]) * v.at(k) * input.at(k) * 0.25f;
    for (int i = 0; i < kLines; ++i) std::memcpy(self->diffBuf[i], self->mono, sizeof(self->mono));

    for (int s = 0; s < kStages; ++s) {
        for (int i = 0; i < kLines; ++i) {
            float* b = self->diffBuf[i];
            self->diffusers[s][i]->exec(b, b, FRAME_SAMPLES);
            const Ramp gain = p[self->diffusionGain[s][i]];
            for (int k = 0; k < FRAME_SAMPLES; ++k) b[k] *= gain.at(k);
        }
        hadamard8_frame16(diffRows);
    }

    float loudest = 0.0f;
    for (int i = 0; i < kLines; ++i)
        for (int k = 0; k < FRAME_SAMPLES; ++k) {
            self->lineBuf[i][k] += self->diffBuf[i][k];
            loudest = std::fmax(loudest, std::fabs(self->lineBuf[i][k]));
        }
    self->quietSamples = loudest < kQuietLevel ? std::min(self->quietSamples + FRAME_SAMPLES, kDrainSamples) : 0;

    const Ramp& spread = p[self->spreadShare];
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        const float l = self->lineBuf[0][k] + self->lineBuf[1][k] + self->lineBuf[2][k] + self->lineBuf[3][k];
        const float r = self->lineBuf[4][k] + self->lineBuf[5][k] + self->lineBuf[6][k] + self->lineBuf[7][k];
        const float cross = 1.0f - spread.at(k);
        const float lift = 1.0f + 0.25f * spread.at(k);
        self->wet[0][k] = (l + r * cross) * lift;
        self->wet[1][k] = (r + l * cross) * lift;
    }
    self->outFilter[0].exec(self->wet[0], self->wet[0], FRAME_SAMPLES);
    self->outFilter[1].exec(self->wet[1], self->wet[1], FRAME_SAMPLES);
    const Ramp &dry = p[self->dryGain], &wet = p[self->wetGain];
    for (int ch = 0; ch < FRAME_CHANNELS; ++ch)
        for (int k = 0; k < FRAME_SAMPLES; ++k)
            frame[ch][k] = dry.at(k) * self->dry[ch][k] + wet.at(k) * self->wet[ch][k];
    return false;
}

void ReverbFDN8::resetState()
{
    for (int i = 0; i < kLines; ++i) {
        lines[i]->reset();
        for (int s = 0; s < kStages; ++s) diffusers[s][i]->reset();
        damping[i].reset();
    }
    outFilter[0].reset();
    outFilter[1].reset();
    std::memset(lineBuf, 0, sizeof lineBuf);
    std::memset(diffBuf, 0, sizeof diffBuf);
    quietSamples = 0;
}
