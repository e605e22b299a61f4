#include "effects/DynaComp.h"

#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"

#include <algorithm>
#include <cmath>

namespace {
// ln 9 / 48: a time in ms for a change by a factor of 9 at 48 samples per millisecond.
constexpr float kLn9PerMs = 0.04577551f;
// ln 10 / 20: dB to the natural exponent.
constexpr float kDbToExp = 0.115129255f;
// How fast a turn of "Sensitivity" may move the "Dyn" gain, in nepers per sample (20 dB in 24 ms).
// The gain 1 / (e s + 1) swings hardest at the first steps from 0, so the knob is followed in the
// gain it makes rather than in its own units.
constexpr float kSensitivitySlew = 0.002f;
constexpr const char* kDyn = "Dyn";
constexpr const char* kStudio = "Studio";
} // namespace

DynaComp::DynaComp(Node* parent, NodePreset* preset) : AudioBlock("DynaComp", parent, &DynaComp::exec, BLOCK_PREPEND)
{
    onOff = fx::makeEnable(parent);
    sensitivity =
        fx::makeFloat(parent, {"sensitivity", "Sensitivity", 0, 1, 0.5f, "", 0.5f, false, fx::kUsualDecimals, true});
    threshold = fx::makeFloat(parent, {"threshold", "Threshold", -60, -10, -40, "dB", 0.5f, false, 1, true});
    ratio = fx::makeFloat(parent, {"ratio", "Ratio", 1, 12, 2, "", 0.5f, false, 2});
    makeup = fx::makeLevelDb(parent, "makeup", "Makeup", 0, 20, 9, 1, true);
    attack = fx::makeFloat(parent, {"attack", "Attack", 5, 100, 10, "ms", 0.2f});
    release = fx::makeFloat(parent, {"release", "Release", 100, 2000, 400, "ms", 0.2f});
    toneNode = fx::makePercent(parent, "tn", "Tone", 50);
    knee = fx::makeLevelDb(parent, "knee", "Knee", 1, 20, 1, 1);
    mode = new NodeEnum(parent, "md", "Mode", {kDyn, kStudio}, kDyn);
    // The two modes sound nothing alike (voicing, make-up): hide the switch behind the fade.
    mode->setOnChange(&AudioProcessor::debounce);
    status = fx::makeFloat(parent, {"_stat", "Status", 0, 1, 1, ""});
    if (preset) preset->addIgnoreNode(status);
    threshold->setStyleVisible(false);
    ratio->setStyleVisible(false);
    knee->setStyleVisible(false);
}

bool DynaComp::compile()
{
    // The two modes sound nothing alike (voicing, make-up): both switches wait for the quiet point.
    const bool studioMode = mode->isValue(kStudio);
    fx::takeStructure(structure, Structure{fx::isOn(onOff, external.get()), studioMode});
    Coeffs& k = params.fixed();
    k.enabled = structure.on ? 1 : 0;
    k.mode = structure.studio ? 1 : 0;
    threshold->setStyleVisible(studioMode);
    ratio->setStyleVisible(studioMode);
    knee->setStyleVisible(studioMode);
    toneNode->setStyleVisible(!studioMode);
    sensitivity->setStyleVisible(!studioMode);
    status->setValue(structure.studio ? studio.getActualGain() : gain.load(std::memory_order_relaxed));

    k.sensitivity = sensitivity->getValue() * 1000.0f;
    k.attack = std::exp(-kLn9PerMs / attack->getValue());
    k.attackInv = 1.0f - k.attack;
    k.release = std::exp(-kLn9PerMs / release->getValue());
    k.releaseInv = 1.0f - k.release;
    studio.load(threshold->getValue(), ratio->getValue(), attack->getValue(), release->getValue(), 0.0f,
                knee->getValue());
    params.set(makeupGain, std::exp(makeup->getValue() * kDbToExp));
    voicing.set_coeffs(3.2045f, -5.78f, 2.5775f, -1.279f, 0.2797f);
    tone.set([&](QuadBiquad& q) { q.set_hpf_shelf(3200.0f, 0.7f, (toneNode->getValue() - 50.0f) * 0.14f); });
    params.publish();
    return false;
}

bool DynaComp::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<DynaComp*>(block);
    const Coeffs& k = self->params.read();
    if (!k.enabled) return false;
    self->params.advance(FRAME_SAMPLES);
    float* left = frame[0];
    float* t = self->voiced;
    self->voicing.exec(left, t, FRAME_SAMPLES);
    if (k.mode == 1) {
        self->studio.exec(left, left, FRAME_SAMPLES, 1.0f); // the engine fades the chain
    } else {
        // Feedback detector: it follows the compressed output, so the gain found at one sample
        // applies from the next.
        float e = self->envelope;
        float g = self->gain.load(std::memory_order_relaxed);
        float s = self->sensitivityNow;
        for (int i = 0; i < FRAME_SAMPLES; ++i) {
            const float y = g * t[i];
            t[i] = y;
            const float d = std::fabs(y);
            e = d > e ? k.attackInv * d + k.attack * e : k.releaseInv * d + k.release * e;
            // d ln(e s + 1) / ds = e / (e s + 1): the step of s that moves the gain by the slew.
            const float most = kSensitivitySlew * (e * s + 1.0f) / std::fmax(e, 1e-9f);
            s += std::clamp(k.sensitivity - s, -most, most);
            g = 1.0f / (e * s + 1.0f);
        }
        self->sensitivityNow = s;
        self->envelope = e;
        self->gain.store(g, std::memory_order_relaxed);
        self->tone.exec(t, left, FRAME_SAMPLES);
    }
    const Ramp& makeup = self->params[self->makeupGain];
    for (int i = 0; i < FRAME_SAMPLES; ++i) left[i] *= makeup.at(i);
    return false;
}

void DynaComp::resetState()
{
    envelope = 0.0f;
    gain.store(1.0f, std::memory_order_relaxed);
    studio.reset();
    voicing.reset();
    tone.reset();
}
