#include "effects/NoiseGate.h"

#include "params/NodeFloat.h"
#include "params/NodeOnOff.h"
#include "params/Storage.h"
#include "porting/Log.h"

#include <cmath>

namespace {
constexpr const char* kTag = "NoiseGate";
// ln 9 / 48: a time in ms for a change by a factor of 9 at 48 samples per millisecond.
constexpr float kLn9PerMs = 0.04577551f;
} // namespace

NoiseGate::NoiseGate(Node* parent, int mask, int trigger, float* external, bool store, bool ownSwitch)
    : AudioBlock("NoiseGate", parent, &NoiseGate::exec, BLOCK_PREPEND), mask(mask), externalSignal(external)
{
    source = trigger == 2 ? DETECT_RIGHT : trigger == 3 ? DETECT_EXTERNAL : DETECT_LEFT;
    if (source == DETECT_EXTERNAL && !external) {
        LOG_E(kTag, "Wrong EXT trigger\n");
        // Without a signal to follow, the gate listens to the channel it works on.
        source = DETECT_LEFT;
    }

    if (ownSwitch) onOff = fx::makeEnable(parent);
    threshold = fx::makeFloat(
        parent, {"threshold", "Threshold", -100, -20, -60, "dB", 0.5f, false, fx::kUsualDecimals, !store});
    attack = fx::makeFloat(parent, {"attack", "Attack", 1, 200, 10, "ms", 0.1f});
    release = fx::makeFloat(parent, {"release", "Release", 20, 500, 50, "ms", 0.1f});
    hysteresis = fx::makeFloat(parent, {"hysteresis", "Hysteresis", 0, 20, 12, "dB", 0.5f});
    if (store) {
        if (onOff) Storage::addItem(onOff);
        for (Node* node : {static_cast<Node*>(threshold), static_cast<Node*>(attack), static_cast<Node*>(release),
                           static_cast<Node*>(hysteresis)})
            Storage::addItem(node);
    }
}

NoiseGate::NoiseGate(Node* parent, int mask, int trigger, float* external, bool store)
    : NoiseGate(parent, mask, trigger, external, store, true)
{}

NoiseGate::NoiseGate(Node* parent, int mask, int, bool store) : NoiseGate(parent, mask, 1, nullptr, store, true) {}

NoiseGate::NoiseGate(Node* parent, int mask, bool store) : NoiseGate(parent, mask, 1, nullptr, store, true) {}

bool NoiseGate::isEnabled() const
{
    return !onOff || onOff->isValue(NodeOnOff::ON);
}

void NoiseGate::toggle()
{
    if (onOff) onOff->setValue(isEnabled() ? NodeOnOff::OFF : NodeOnOff::ON);
}

bool NoiseGate::compile()
{
    Coeffs k;
    k.attack = std::exp(-kLn9PerMs / attack->getValue());
    k.release = std::exp(-kLn9PerMs / release->getValue());
    fx::takeStructure(on, fx::isOn(onOff, external.get()));
    if (on) {
        k.openThreshold = std::pow(10.0f, 0.05f * threshold->getValue());
        k.closeThreshold = k.openThreshold * std::pow(10.0f, -0.05f * hysteresis->getValue());
    }
    coeffs.publish(k);
    return false;
}

bool NoiseGate::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<NoiseGate*>(block);
    const Coeffs k = self->coeffs.read();
    const float* in = self->source == DETECT_EXTERNAL ? self->externalSignal : frame[self->source];
    for (int i = 0; i < FRAME_SAMPLES; ++i) self->detector[i] = std::fabs(in[i]);

    const bool left = self->mask & 1, right = self->mask & 2;
    float env = self->envelope, g = self->gain;
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        env = 0.9f * env + 0.1f * self->detector[i];
        if (env > k.openThreshold) g = (g - 1.0f) * k.attack + 1.0f;
        else if (env < k.closeThreshold) g *= k.release;
        if (left) frame[0][i] *= g;
        if (right) frame[1][i] *= g;
    }
    self->envelope = env;
    self->gain = g;
    self->gainOut.store(g, std::memory_order_relaxed);
    return false;
}

void NoiseGate::resetState()
{
    envelope = 0.0f;
    gain = 0.0f;
    gainOut.store(0.0f, std::memory_order_relaxed);
}
