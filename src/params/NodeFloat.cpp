#include "params/NodeFloat.h"

#include "porting/TextHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

static_assert(sizeof(std::atomic<float>) == sizeof(float) && std::atomic<float>::is_always_lock_free,
              "the stored image of a float node is the value's own 4 bytes");

namespace {

constexpr float kBandLow = 0.49f;
constexpr float kBandHigh = 0.51f;
constexpr float kKnobStep = 0.02f; // fifty steps over the whole travel

std::string printF(float number)
{
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(number));
    return text;
}

bool tapered(float shape)
{
    return shape > 0.0f && shape < 1.0f && !(shape > kBandLow && shape < kBandHigh);
}

// x = 1/s - 1 and k = x^2: the tapered rule min + r (k^t - 1)/(k - 1) passes min + r s at t = 0.5.
float taperX(float shape)
{
    return float(1.0 / double(shape) - 1.0);
}

} // namespace

NodeFloat::NodeFloat(Node* parent, const char* name, const char* displayName, float min, float max, float defaultValue,
                     const char* unit, float shape, bool inverted, int decimals)
    : Node(parent, name, displayName), value(defaultValue), defaultValue(defaultValue), min(min), max(max),
      unit(unit ? unit : ""), shape(shape), inverted(inverted), decimals(decimals >= 0 && decimals <= 5 ? decimals : -1)
{}

NodeFloat::NodeFloat(Node* parent, const char* name, const char* displayName, float min, float max, float defaultValue,
                     const char* unit, float shape, bool inverted)
    : NodeFloat(parent, name, displayName, min, max, defaultValue, unit, shape, inverted, -1)
{}

void* NodeFloat::getStorageData(int* size)
{
    *size = int(sizeof(float));
    return &value;
}

void NodeFloat::onLoad()
{
    float loaded = getValue();
    if (!valid_float(loaded)) value.store(std::clamp(defaultValue, min, max));
    else value.store(std::clamp(loaded, min, max));
}

void NodeFloat::store(float newValue)
{
    value.store(newValue, std::memory_order_relaxed);
    notifyUpdate();
}

bool NodeFloat::setValue(float newValue)
{
    if (!valid_float(newValue)) return false;
    newValue = std::clamp(newValue, min, max);
    if (newValue == getValue()) return false;
    store(newValue);
    return true;
}

void NodeFloat::reset()
{
    float target = std::clamp(defaultValue, min, max);
    if (target != getValue()) store(target);
}

void NodeFloat::fromSlider(float position)
{
    position = std::clamp(valid_float(position) ? position : 0.0f, 0.0f, 1.0f);
    float t = inverted ? 1.0f - position : position;
    float s = getShape();
    if (s <= 0.0f || s >= 1.0f) {
        s = 0.5f;
        shape.store(s, std::memory_order_relaxed);
    }
    float r = max - min;
    float result;
    if (tapered(s)) {
        float x = taperX(s);
        float k = x * x;
        result = min + r * (std::pow(k, t) - 1.0f) / (k - 1.0f);
    } else {
        result = min + t * r;
    }
    // Rounding can land a hair outside the range at the ends.
    store(std::clamp(result, min, max));
}

float NodeFloat::toSlider() const
{
    float p = (std::clamp(getValue(), min, max) - min) / (max - min);
    float s = getShape();
    if (!tapered(s)) return p;
    float x = taperX(s);
    float k = x * x;
    return 0.5f * std::log10(1.0f + p * (k - 1.0f)) / std::log10(x);
}

void NodeFloat::edit(bool up)
{
    float p = toSlider();
    if (inverted) p = 1.0f - p;
    fromSlider(up ? p + kKnobStep : p - kKnobStep);
}

bool NodeFloat::fromString(std::string text)
{
    char* end = nullptr;
    float number = std::strtof(text.c_str(), &end);
    if (end == text.c_str()) number = defaultValue;
    // "nan" and "inf" read as numbers but are no value a parameter can hold.
    if (!valid_float(number)) return false;
    if (number > max || number < min) return false;
    if (number == getValue()) return false;
    store(number);
    return true;
}

std::string NodeFloat::toString()
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals < 0 ? 2 : decimals, double(getValue()));
    std::string result = text;
    if (*unit) result += std::string(" ") + unit;
    return result;
}

std::string NodeFloat::getValueJSON()
{
    return "\"value\":" + printF(getValue());
}

std::string NodeFloat::getDescription()
{
    return ",\"min\":" + printF(min) + ",\"max\":" + printF(max) + ",\"def\":" + printF(defaultValue) + ",\"unit\":\"" +
           unit + "\",\"shape\":" + printF(getShape()) + ",\"inv\":" + (inverted ? "1" : "0") +
           ",\"dec\":" + std::to_string(decimals);
}
