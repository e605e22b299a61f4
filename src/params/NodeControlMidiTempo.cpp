#include "params/NodeControlMidiTempo.h"

#include "porting/Clock.h"
#include "porting/TextHelpers.h"

#include <cstdio>
#include <cstdlib>

static_assert(sizeof(std::atomic<float>) == sizeof(float), "the stored image is the plain float");

namespace {
// Clocks further apart than this belong to no running clock.
constexpr uint32_t kMaxGapUs = 500000;
// Length of one measurement, in seconds.
constexpr float kMeasureSeconds = 2.0f;
// 24 clocks per beat: beats per minute = 60 / 24 x clocks / seconds.
constexpr float kMinutePerClocks = 2.5f;
} // namespace

NodeControlMidiTempo::NodeControlMidiTempo(Node* parent, const char* key, const char* label, Node* target)
    : NodeControl(parent, key, label, target, "midi", "ck"), lastClock(esp_timer_get_time())
{}

uint64_t NodeControlMidiTempo::now()
{
    return esp_timer_get_time();
}

void* NodeControlMidiTempo::getStorageData(int* size)
{
    *size = int(sizeof(float));
    return &tempo;
}

void NodeControlMidiTempo::onLoad()
{
    if (!valid_float(tempo.load())) tempo.store(0.0f);
}

bool NodeControlMidiTempo::fromString(std::string text)
{
    const char* start = text.c_str();
    char* end = nullptr;
    float value = std::strtof(start, &end);
    if (end == start || *end != '\0' || !valid_float(value)) return false;
    tempo.store(value);
    notifyUpdate();
    return true;
}

std::string NodeControlMidiTempo::toString()
{
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(tempo.load()));
    return text;
}

std::string NodeControlMidiTempo::getValueJSON()
{
    return "\"value\":" + toString();
}

void NodeControlMidiTempo::reset()
{
    tempo.store(0.0f);
    notifyUpdate();
}

void NodeControlMidiTempo::fromSource(const char*, unsigned char* bytes, int length)
{
    if (length != 1 || !bytes || bytes[0] != 0xF8) return;
    uint64_t time = now();
    uint32_t dt = uint32_t(time - lastClock);
    lastClock = time;
    if (dt > kMaxGapUs) {
        clockCount = 0;
        elapsed = 0.0f;
        return;
    }
    ++clockCount;
    elapsed += float(dt) * 0.000001f;
    if (elapsed > kMeasureSeconds) {
        tempo.store(kMinutePerClocks / elapsed * float(clockCount));
        clockCount = 0;
        elapsed = 0.0f;
        notifyUpdate();
    }
}
