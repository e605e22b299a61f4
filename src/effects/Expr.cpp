#include "effects/Expr.h"

#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"
#include "porting/Clock.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr double kPi = std::numbers::pi;
// A full sweep of the position takes at least 0.2 s: the step allowed per microsecond.
constexpr float kMaxPositionPerUs = 5.0000003e-6f;
} // namespace

Expr::Expr(Node* parent) : AudioBlock("Expr", parent, &Expr::exec, BLOCK_PREPEND)
{
    onOff = fx::makeEnable(parent);
    NodeItem* vfold = fx::makeFolder(parent, "vfold", "Volume");
    volumeOn = fx::makeEnable(vfold, false);
    volume = fx::makePercent(vfold, "vol", "Volume", 50);
    boost = fx::makeFloat(vfold, {"boost", "Boost", 0, 12, 0, "dB", 0.5f, false, 1, true});
    NodeItem* wfolder = fx::makeFolder(parent, "wfolder", "Wah");
    wahOn = fx::makeEnable(wfolder, false);
    mode = new NodeEnum(wfolder, "mode", "Mode", {"Cry", "Vintage"}, "Cry");
    position = fx::makePercent(wfolder, "pos", "Position", 50);
    emphasis = fx::makePercent(wfolder, "int", "Emphasis", 50, false);
    loSweep = fx::makeFrequency(wfolder, "lo_sw", "Lo-Sweep", 200, 800, 450);
    hiSweep = fx::makeFrequency(wfolder, "hi_sw", "Hi-Sweep", 1000, 4000, 2200);
    offValue = new NodeEnum(wfolder, "off_val", "Off Value", {"Disabled", "95%", "90%"}, "Disabled");
}

bool Expr::compile()
{
    fx::takeStructure(on, fx::isOn(onOff, external.get()));
    enabled.store(on ? 1 : 0, std::memory_order_relaxed);

    float p = position->getValue() * 0.01f;
    const float e = emphasis->getValue() * 0.01f;
    const int64_t now = int64_t(esp_timer_get_time());
    // A clock set back gives no time to move in (rather than a step the wrong way).
    const int64_t dt = std::max<int64_t>(0, now - lastCompileTime);
    lastCompileTime = now;

    // Pushing the pedal past the off value fades the wah out and the dry signal in.
    double dry = 0.0, wah = 1.0;
    if (offValue->isValue("95%")) {
        dry = std::clamp((double(p) - 0.95) * 39.99999940395356, 0.0, 1.0);
        wah = 1.0 - dry;
        p *= 1.0526316f;
    } else if (offValue->isValue("90%")) {
        dry = std::clamp((double(p) - 0.9) * 19.99999970197678, 0.0, 1.0);
        wah = 1.0 - dry;
        p *= 1.1111112f;
    }
    p = std::min(p, 1.0f);
    if (!wahOn->isValue(NodeOnOff::ON)) {
        dry = 1.0;
        wah = 0.0;
    }

    double v = 1.0;
    if (volumeOn->isValue(NodeOnOff::ON))
        v = fx::volumeTaper(volume->getValue()) * std::pow(10.0, double(boost->getValue()) * 0.05);

    const float step = float(dt) * kMaxPositionPerUs;
    smoothed = std::clamp(smoothed + std::clamp(p - smoothed, -step, step), 0.0f, 1.0f);
    const double s = smoothed;
    const double lo = loSweep->getValue(), hi = hiSweep->getValue();
    const double f = lo * std::pow(hi / lo, s);

    double b0, b1, b2, a1, a2;
    if (mode->isValue("Vintage")) {
        // Resonant low-pass (cookbook form) with the dry signal added in the direct term.
        const double q = e * 4.0 + 2.0;
        const double w = f * 0.0001308996938995747; // 2 pi / 48000
        const double c = std::cos(w), sn = std::sin(w);
        const double alpha = sn * 0.5 / q;
        const double n = 1.0 / (1.0 + alpha);
        b0 = ((1 - c) * wah * 0.5 * n + dry) * v;
        b1 = (1 - c) * wah * v * n;
        b2 = (1 - c) * wah * 0.5 * n * v;
        a1 = -2 * c * n * wah;
        a2 = (1 - alpha) * n * wah;
    } else {
        // "Cry": a resonance whose width and height follow the pedal like the classic inductor wah.
        const double g = std::exp2((1 - s) * 2 + 1);
        const double ee = e + 0.5;
        const double h = std::exp2(2 * s);
        const double w = f * 2.0833333e-5;
        const double r = w * kPi / (ee * g);
        const double c = std::cos(w * 2 * kPi);
        const double k = h * 0.1 * ee;
        b0 = (wah * k + dry) * v;
        b1 = -(wah * k) * v;
        b2 = 0.0;
        a1 = wah * (-2 * c * (1 - r));
        a2 = wah * (1 - r) * (1 - r);
    }

    // Load the silent biquad only; while a fade runs both are audible and stay as they are.
    const float x = fade.load(std::memory_order_acquire);
    auto design = [&](QuadBiquad& q) { q.set_coeffs(float(b0), float(b1), float(b2), float(a1), float(a2)); };
    if (x == 1.0f) {
        biquadA.set(design);
        direction.store(0, std::memory_order_release);
    } else if (x == 0.0f) {
        biquadB.set(design);
        direction.store(1, std::memory_order_release);
    }
    return false;
}

bool Expr::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<Expr*>(block);
    if (!self->enabled.load(std::memory_order_relaxed)) return false;
    float* left = frame[0];
    // Both filters always run, so the one faded in is already warm.
    self->biquadA.exec(left, self->scratch, FRAME_SAMPLES);
    self->biquadB.exec(left, left, FRAME_SAMPLES);
    const float x = self->fade.load(std::memory_order_relaxed);
    const float next =
        std::clamp(self->direction.load(std::memory_order_acquire) == 1 ? x + kFadeStep : x - kFadeStep, 0.0f, 1.0f);
    // The weight moves in a straight line across the frame: two filters far apart (a wah at two
    // positions) would otherwise step by a 150th of their difference at every frame.
    const float step = (next - x) / FRAME_SAMPLES;
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        const float w = x + step * float(i + 1);
        left[i] = w * left[i] + (1.0f - w) * self->scratch[i];
    }
    self->fade.store(next, std::memory_order_release);
    return false;
}

void Expr::resetState()
{
    biquadA.reset();
    biquadB.reset();
}
