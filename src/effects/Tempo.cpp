#include "effects/Tempo.h"

#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodePreset.h"
#include "params/Storage.h"
#include "porting/Clock.h"

#include <cstdio>
#include <cstring>

Tempo::Tempo(Node* parent, NodePreset* preset) : AudioBlock("Tempo", parent, &Tempo::exec, BLOCK_PREPEND)
{
    tempoNode = new NodeFloat(parent, "tempo_bpm", "Global TEMPO", 30, 240, 120, "BPM", 0.5f, false, 1);
    if (preset) preset->addIgnoreNode(tempoNode);
    Storage::addItem(tempoNode);
    lastCompileTime = int64_t(esp_timer_get_time());
    manualReset();
}

void Tempo::addTempoSource(NodeFloat* node, const char* name)
{
    if (!node || !name) return;
    sources.emplace_back(node, name);
}

NodeEnum* Tempo::createLinkNode(Node* parent)
{
    if (!parent) return nullptr;
    std::vector<const char*> options{kUnlocked, kGlobal};
    for (auto& source : sources) options.push_back(source.second);
    auto* lock = new NodeEnum(parent, "lock", "Lock Options", options, kUnlocked);
    lockNodes.push_back(lock);
    return lock;
}

const NodeFloat* Tempo::findSource(const char* name) const
{
    if (!name) return nullptr;
    for (auto& source : sources)
        if (std::strcmp(source.second, name) == 0) return source.first;
    return nullptr;
}

bool Tempo::isLocked(const char* option) const
{
    if (!option) return false;
    if (std::strcmp(option, kGlobal) == 0) return true;
    return findSource(option) != nullptr;
}

float Tempo::getTempo(const char* option) const
{
    if (!option) return 0.0f;
    if (std::strcmp(option, kGlobal) == 0) return tempoNode->getValue();
    const NodeFloat* source = findSource(option);
    return source ? source->getValue() : 0.0f;
}

void Tempo::setTempo(float bpm)
{
    tempoNode->setValue(bpm);
    for (auto& source : sources) source.first->setValue(bpm);
}

void Tempo::manualTap()
{
    const uint64_t now = esp_timer_get_time();
    tapCountdown = kTapTicks;
    if (!tapActive) {
        tapIndex = 0;
        tapCount = 0;
        tapActive = true;
        tapTimes[0] = now;
        return;
    }
    tapIndex = (tapIndex + 1) % kTapRing; // overwrites the oldest of the eight
    tapTimes[tapIndex] = now;
    ++tapCount;

    uint64_t latest = 0, earliest = UINT64_MAX;
    int n = 0;
    for (uint64_t t : tapTimes) {
        if (t == 0) continue;
        latest = t > latest ? t : latest;
        earliest = t < earliest ? t : earliest;
        ++n;
    }
    // From the fifth tap on, the mean interval of up to the last eight taps sets the tempo. Taps
    // within the same microsecond (or a clock set back into them) give no interval to measure.
    if (tapCount < 4 || latest <= earliest) return;
    const float bpm = float(60000000.0 / double(latest - earliest) * double(n - 1));
    setTempo(bpm);
}

void Tempo::manualReset()
{
    for (auto& t : tapTimes) t = 0;
    tapActive = false;
    tapIndex = 0;
    tapCount = 0;
}

bool Tempo::tapTick()
{
    if (!tapActive) return false;
    if (tapCountdown > 0 && --tapCountdown > 0) return true;
    manualReset();
    return false;
}

std::string Tempo::toString() const
{
    const float global = tempoNode->getValue();
    float shown = global;
    for (NodeEnum* lock : lockNodes) {
        const char* option = lock->getValueText();
        if (!option || std::strcmp(option, kGlobal) == 0) continue;
        const NodeFloat* source = findSource(option);
        if (!source) continue;
        const float t = source->getValue();
        if (t != 0.0f && t != global) {
            shown = t;
            break;
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", shown);
    return text;
}
