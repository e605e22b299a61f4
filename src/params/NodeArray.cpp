#include "params/NodeArray.h"

#include "porting/Log.h"
#include "porting/TextHelpers.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

static_assert(sizeof(std::atomic<uint32_t>) == 4 && std::atomic<uint32_t>::is_always_lock_free,
              "the stored image of an array node is its words as they lie in memory");

namespace {

constexpr const char* kTag = "NodeArray";
constexpr int kMaxMagnitude = 8191; // 13 bits over the two bytes

std::string printF(float number)
{
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(number));
    return text;
}

} // namespace

NodeArray::NodeArray(Node* parent, const char* name, const char* displayName, int maxLength, float min, float max,
                     const char* unit, int decimals, const char* encoding)
    : NodeArray(parent, name, displayName, maxLength, min, max, unit, decimals, encoding, 0.0f, 1.0f, "")
{}

NodeArray::NodeArray(Node* parent, const char* name, const char* displayName, int maxLength, float min, float max,
                     const char* unit, int decimals, const char* encoding, float xStart, float xStep, const char* xUnit)
    : Node(parent, name, displayName), maxLength(std::max(maxLength, 0)), min(min), max(max), unit(unit ? unit : ""),
      decimals(decimals >= 0 && decimals <= 5 ? decimals : -1), encoding(encoding ? encoding : ""), xStart(xStart),
      xStep(xStep), xUnit(xUnit ? xUnit : ""), buffer(new std::atomic<uint32_t>[size_t(this->maxLength) + 1]())
{}

int NodeArray::getLength() const
{
    return int(buffer[0].load(std::memory_order_acquire));
}

float NodeArray::rawAt(int k) const
{
    return std::bit_cast<float>(buffer[size_t(k) + 1].load(std::memory_order_relaxed));
}

void NodeArray::storeRaw(int k, float v)
{
    buffer[size_t(k) + 1].store(std::bit_cast<uint32_t>(v), std::memory_order_relaxed);
}

void NodeArray::storeLength(int n)
{
    buffer[0].store(uint32_t(n), std::memory_order_release);
}

float NodeArray::clampValue(float v) const
{
    // A stored file can hold anything; what is read is always a number of the range.
    if (std::isnan(v)) return min;
    return std::clamp(v, min, max);
}

bool NodeArray::tenths() const
{
    return std::strcmp(encoding, EncB2D1) == 0;
}

bool NodeArray::knownEncoding() const
{
    return tenths() || std::strcmp(encoding, EncB2D0) == 0;
}

void NodeArray::onLoad()
{
    int n = int(buffer[0].load());
    if (n < 0 || n > maxLength) storeLength(std::clamp(n, 0, maxLength));
}

void* NodeArray::getStorageData(int* size)
{
    *size = int((size_t(maxLength) + 1) * sizeof(uint32_t));
    return buffer.get();
}

bool NodeArray::setLength(int n)
{
    if (n < 0 || n > maxLength) return false;
    if (n != getLength()) {
        storeLength(n);
        notifyUpdate();
    }
    return true;
}

bool NodeArray::setValueAt(float v, int k)
{
    if (k < 0 || k >= maxLength || !valid_float(v)) return false;
    if (k >= getLength()) {
        storeLength(k + 1);
        notifyUpdate();
    }
    if (v != rawAt(k)) {
        storeRaw(k, v);
        notifyUpdate();
    }
    return true;
}

float NodeArray::getValueAt(int k) const
{
    if (k < 0 || k >= getLength()) return 0.0f;
    return clampValue(rawAt(k));
}

float NodeArray::getInterpolatedValueAt(float x) const
{
    int n = getLength();
    if (n == 0) return 0.0f;
    if (!(x >= 0.0f)) return getValueAt(0); // below the start (or not a number)
    if (x >= float(n - 1)) return getValueAt(n - 1);
    int k = int(x);
    if (k + 1 >= n) return getValueAt(n - 1);
    float f = x - float(k);
    return (1.0f - f) * getValueAt(k) + f * getValueAt(k + 1);
}

void NodeArray::editAt(int k, bool up)
{
    if (k < 0 || k >= maxLength) return;
    float step = decimals < 0 ? 10.0f : float(std::pow(10.0, -decimals));
    bool changed = false;
    float v;
    if (k < getLength()) {
        v = getValueAt(k) + (up ? step : -step);
    } else {
        storeLength(k + 1);
        changed = true;
        v = up ? step : -step;
    }
    if (v != rawAt(k)) {
        storeRaw(k, v);
        changed = true;
    }
    if (changed) notifyUpdate();
}

std::string NodeArray::toStringAt(int k) const
{
    if (k < 0 || k >= getLength()) return "";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals < 0 ? 2 : decimals, double(getValueAt(k)));
    std::string result = text;
    if (*unit) result += std::string(" ") + unit;
    return result;
}

void NodeArray::copy(NodeArray* source)
{
    if (!source) return;
    if (source->maxLength != maxLength) {
        LOG_E(kTag, "source must have the same size\n");
        return;
    }
    // Read the source first: it may be this very node, which reset empties.
    std::vector<float> values(size_t(source->getLength()));
    for (size_t k = 0; k < values.size(); ++k) values[k] = source->getValueAt(int(k));
    reset();
    for (size_t k = 0; k < values.size(); ++k) setValueAt(values[k], int(k));
}

std::string NodeArray::encode() const
{
    if (!knownEncoding()) return "";
    int n = getLength();
    std::string text;
    text.reserve(size_t(n) * 2);
    for (int k = 0; k < n; ++k) {
        float scaled = getValueAt(k) * (tenths() ? 10.0f : 1.0f);
        bool negative = scaled < 0.0f;
        // Saturate rather than wrap: a value the format cannot carry arrives as the largest one.
        float magnitude = std::min(std::fabs(scaled), float(kMaxMagnitude));
        int m = int(std::lround(magnitude));
        if (m == 0) negative = false;
        text += char(0x80 | (m & 0x7F));
        text += char(0x80 | (negative ? 0x40 : 0) | ((m >> 7) & 0x3F));
    }
    return text;
}

bool NodeArray::decode(const std::string& text)
{
    if (!knownEncoding()) return false;
    if (text.size() % 2 != 0) {
        LOG_E(kTag, "wrong item size = %d\n", int(text.size()));
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(uint8_t(text[i]) & 0x80)) {
            LOG_E(kTag, "wrong item at index = %d\n", int(i));
            return false;
        }
    }
    int n = int(text.size() / 2);
    for (int k = 0; k < n && k < maxLength; ++k) {
        auto low = uint8_t(text[size_t(k) * 2]);
        auto high = uint8_t(text[size_t(k) * 2 + 1]);
        int magnitude = (low & 0x7F) | ((high & 0x3F) << 7);
        float v = float((high & 0x40) ? -magnitude : magnitude);
        if (tenths()) v *= 0.1f;
        setValueAt(v, k);
    }
    if (n <= maxLength) setLength(n);
    return true;
}

std::string NodeArray::getValueJSON()
{
    return "\"value\":\"" + encode() + "\"";
}

bool NodeArray::fromString(std::string text)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    return decode(text.substr(1, text.size() - 2));
}

std::string NodeArray::toString()
{
    return std::to_string(getLength());
}

std::string NodeArray::getDescription()
{
    std::string description = ",\"min\":" + printF(min) + ",\"max\":" + printF(max) + ",\"enc\":\"" + encoding +
                              "\",\"unit\":\"" + unit + "\"";
    if (decimals != -1) description += ",\"dec\":" + std::to_string(decimals);
    return description;
}

void NodeArray::reset()
{
    if (getLength() != 0) {
        storeLength(0);
        notifyUpdate();
    }
}
