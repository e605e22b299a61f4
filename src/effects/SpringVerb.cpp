#include "effects/SpringVerb.h"

#include "audio/AudioProcessor.h"
#include "dsp/ExponentialCurve.h"
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

inline float allpass(float* buf, unsigned& pos, int length, float g, float x) {
    const float delayed = buf[pos];
    const float v = x + g * delayed;
    buf[pos] = v;
    if (++pos >= static_cast<unsigned>(length))
        pos = 0;
    return delayed - g * v;
}
} // namespace

SpringVerb::SpringVerb(Node* parent) : AudioBlock("SpringVerb", parent, &SpringVerb::exec, BLOCK_APPEND) {
    instanceClear();
    onOff = fx::makeEnable(parent);
    decay = fx::makeUnit(parent, "decay", "Decay", 0.5f);
    mix = fx::makeUnit(parent, "mix", "Dry-Wet", 0.5f);
    tone = fx::makeUnit(parent, "tone", "Tone", 0.5f);
    tension = fx::makeUnit(parent, "tension", "Tension", 0.5f);
    position = new NodeEnum(parent, "mode", "Position", {"PRE", "POST", "POST+PRE"}, "POST");
    compile();
}

bool SpringVerb::isEnabled() const { return !onOff || onOff->isValue(NodeOnOff::ON); }

void SpringVerb::instanceClear() { std::memset(&state, 0, sizeof state); }

bool SpringVerb::compile() {
    Coeffs c{};
    c.active = isEnabled();
    // Each control is taken as 0..10.
    const float d = std::max(0.0f, decay->getValue() * 10.0f);
    c.feedback = d * (0.013f - 0.0006f * d) + 0.26f;

    const int p = std::clamp(position->getIndex(), 0, 2);
    const float t = std::max(0.0f, tension->getValue() * 10.0f);
    const float offset = t * (0.00032f * t - 0.0072f);
    const float seconds = kSpringConstant[p] + 0.07f + offset;
    c.springDelay = std::clamp(static_cast<int>(seconds * kSampleRate), 1, kMainSize - 1);

    const float u = std::max(0.0f, tone->getValue() * 10.0f);
    const float cutoff = (190.0f * u + 50.0f) * u + 1500.0f;
    const float k = 1.0f / std::tan(cutoff * std::numbers::pi_v<float> / kSampleRate);
    c.lpB0 = 1.0f / (1.0f + k);
    c.lpA1 = (1.0f - k) / (1.0f + k);

    const float x = mix->getValue();
    if (x < 0.5f) {
        c.wet = exponentialCurve(2.0f * x, 10.0f);
        c.dry = 1.0f;
    } else {
        c.wet = 1.0f;
        c.dry = exponentialCurve(2.0f * (1.0f - x), 10.0f);
    }
    if (!c.active)
        c.dry = 1.0f;
    coeffs.publish(c);
    return false;
}

bool SpringVerb::exec(AudioBlock* block, AudioFrame frame) {
    auto* self = static_cast<SpringVerb*>(block);
    const Coeffs c = self->coeffs.read();
    State& s = self->state;
    std::memcpy(self->dry, frame, sizeof(self->dry));
    const float v = c.active ? AudioProcessor::getDebounceVolume() * 0.5f : 0.0f;
    constexpr unsigned kMask = kMainSize - 1;
    for (int k = 0; k < FRAME_SAMPLES; ++k) {
        const float in = (self->dry[0][k] + self->dry[1][k]) * v;
        const unsigned readPos = (s.springPos - static_cast<unsigned>(c.springDelay)) & kMask;
        for (int ch = 0; ch < FRAME_CHANNELS; ++ch) {
            const float back = s.spring[ch][readPos];
            const float lp = c.lpB0 * (back + s.lpIn[ch]) - c.lpA1 * s.lpOut[ch];
            s.lpIn[ch] = back;
            s.lpOut[ch] = lp;
            float x = in + c.feedback * lp;
            for (int pair = 0; pair < 4; ++pair) {
                const int a = 8 * ch + 2 * pair;
                x = allpass(s.inner[a], s.innerPos[a], kInnerLength[a], kDispersion, x);
                x = allpass(s.inner[a + 1], s.innerPos[a + 1], kInnerLength[a + 1], -kDispersion, x);
            }
            s.spring[ch][s.springPos] = x;
            frame[ch][k] = c.dry * self->dry[ch][k] + c.wet * lp;
        }
        s.springPos = (s.springPos + 1) & kMask;
    }
    return false;
}
