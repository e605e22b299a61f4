#include "effects/SpringVerb.h"

#include "audio/AudioProcessor.h"
#include "dsp/DryWet.h"
#include "effects/BlockHelpers.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeOnOff.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {
// Allpass gain of the dispersion pairs: the first of a pair positive, the second negative, which
// spreads a click into the falling chirp a spring makes.
constexpr float kDispersion = 0.6f;
// Spring constants of the pickup positions PRE, POST, POST+PRE (seconds added to the spring).
constexpr float kSpringConstant[3] = {2e-06f, 0.0005f, 2.8e-05f};
// A new spring length is reached in 10 ms: a jump of the read position would click.
constexpr int kSpringMove = 480;

inline float allpass(float* buf, unsigned& pos, int length, float g, float x)
{
    const float delayed = buf[pos];
    const float v = x + g * delayed;
    buf[pos] = v;
    if (++pos >= static_cast<unsigned>(length)) pos = 0;
    return delayed - g * v;
}
} // namespace

SpringVerb::SpringVerb(Node* parent) : AudioBlock("SpringVerb", parent, &SpringVerb::exec, BLOCK_APPEND)
{
    instanceClear();
    onOff = fx::makeEnable(parent);
    decay = fx::makeUnit(parent, "decay", "Decay", 0.5f);
    mix = fx::makeUnit(parent, "mix", "Dry-Wet", 0.5f);
    tone = fx::makeUnit(parent, "tone", "Tone", 0.5f);
    tension = fx::makeUnit(parent, "tension", "Tension", 0.5f);
    position = new NodeEnum(parent, "mode", "Position", {"PRE", "POST", "POST+PRE"}, "POST");
    compile();
    springDelay = Crossfade<int>(params.fixed().springDelay, kSpringMove);
}

bool SpringVerb::isEnabled() const
{
    return !onOff || onOff->isValue(NodeOnOff::ON);
}

void SpringVerb::instanceClear()
{
    std::memset(&state, 0, sizeof state);
}

bool SpringVerb::compile()
{
    fx::takeStructure(on, isEnabled());
    ParamSet<Coeffs>& p = params;
    Coeffs& c = p.fixed();
    c.active = on;
    // Each control is taken as 0..10.
    const float d = std::max(0.0f, decay->getValue() * 10.0f);
    p.set(feedback, d * (0.013f - 0.0006f * d) + 0.26f);

    const int position = std::clamp(this->position->getIndex(), 0, 2);
    const float t = std::max(0.0f, tension->getValue() * 10.0f);
    const float offset = t * (0.00032f * t - 0.0072f);
    const float seconds = kSpringConstant[position] + 0.07f + offset;
    c.springDelay = std::clamp(static_cast<int>(seconds * kSampleRate), 1, kMainSize - 1);

    const float u = std::max(0.0f, tone->getValue() * 10.0f);
    const float cutoff = (190.0f * u + 50.0f) * u + 1500.0f;
    const float k = 1.0f / std::tan(cutoff * std::numbers::pi_v<float> / kSampleRate);
    p.set(lpB0, 1.0f / (1.0f + k));
    p.set(lpA1, (1.0f - k) / (1.0f + k));

    const DryWet g = dryWet(mix->getValue(), c.active, dryWetCurve);
    p.set(dryGain, g.dry);
    p.set(wetGain, g.wet);
    p.publish();
    return false;
}

bool SpringVerb::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<SpringVerb*>(block);
    ParamSet<Coeffs>& p = self->params;
    const Coeffs& c = p.read();
    p.advance(FRAME_SAMPLES);
    self->springDelay.follow(c.springDelay);
    State& s = self->state;
    std::memcpy(self->dry, frame, sizeof(self->dry));
    const Ramp fade = fx::fadeRamp();
    const float level = c.active ? 0.5f : 0.0f;
    const Ramp &fb = p[self->feedback], &b0 = p[self->lpB0], &a1 = p[self->lpA1];
    const Ramp &dry = p[self->dryGain], &wet = p[self->wetGain];
    const unsigned from = static_cast<unsigned>(self->springDelay.from());
    const unsigned to = static_cast<unsigned>(self->springDelay.to());
    constexpr unsigned kMask = kMainSize - 1;
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        const float in = (self->dry[0][k] + self->dry[1][k]) * fade.at(k) * level;
        const float w = self->springDelay.next();
        for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
            const float* spring = s.spring[ch];
            float back = spring[(s.springPos - to) & kMask];
            if (w < 1.0f) back = w * back + (1.0f - w) * spring[(s.springPos - from) & kMask];
            const float lp = b0.at(k) * (back + s.lpIn[ch]) - a1.at(k) * s.lpOut[ch];
            s.lpIn[ch] = back;
            s.lpOut[ch] = lp;
            float x = in + fb.at(k) * lp;
            for (int pair = 0; pair < 4; ++pair) {
                const int a = 8 * ch + 2 * pair;
                x = allpass(s.inner[a], s.innerPos[a], kInnerLength[a], kDispersion, x);
                x = allpass(s.inner[a + 1], s.innerPos[a + 1], kInnerLength[a + 1], -kDispersion, x);
            }
            s.spring[ch][s.springPos] = x;
            frame[ch][k] = dry.at(k) * self->dry[ch][k] + wet.at(k) * lp;
        }
        s.springPos = (s.springPos + 1) & kMask;
    }
    return false;
}

void SpringVerb::resetState()
{
    instanceClear();
}
