#include "effects/BlockHelpers.h"

#include "effects/Tempo.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"

#include <cstring>

namespace fx {

NodeOnOff* makeEnable(Node* parent, bool fade, const char* label)
{
    auto* onOff = new NodeOnOff(parent, label, NodeOnOff::OFF);
    if (fade) onOff->setOnChange(&AudioProcessor::debounce);
    return onOff;
}

bool isOn(const NodeOnOff* onOff, bool external)
{
    return external && (!onOff || onOff->isValue(NodeOnOff::ON));
}

NodeFloat* makeFloat(Node* parent, const FloatParam& p)
{
    auto* node = new NodeFloat(parent, p.key, p.label, p.min, p.max, p.def, p.unit, p.shape, p.inverted, p.decimals);
    if (p.linkable) node->setLinkable(true);
    return node;
}

NodeFloat* makePercent(Node* parent, const char* key, const char* label, float def, bool linkable)
{
    return makeFloat(parent, {key, label, 0, 100, def, "%", 0.5f, false, 0, linkable});
}

NodeFloat* makeMix(Node* parent, float def)
{
    return makePercent(parent, "mix", "Dry-Wet", def, true);
}

NodeFloat* makeUnit(Node* parent, const char* key, const char* label, float def, float shape, bool linkable)
{
    return makeFloat(parent, {key, label, 0, 1, def, "", shape, false, kUsualDecimals, linkable});
}

NodeFloat* makeLevelDb(Node* parent, const char* key, const char* label, float min, float max, float def, int decimals,
                       bool linkable)
{
    return makeFloat(parent, {key, label, min, max, def, "dB", 0.5f, false, decimals, linkable});
}

NodeFloat* makeFrequency(Node* parent, const char* key, const char* label, float min, float max, float def, float shape,
                         bool inverted, bool linkable)
{
    return makeFloat(parent, {key, label, min, max, def, "Hz", shape, inverted, 0, linkable});
}

NodeFloat* makeTimeMs(Node* parent, const char* key, const char* label, float min, float max, float def, float shape,
                      bool linkable)
{
    return makeFloat(parent, {key, label, min, max, def, "ms", shape, false, 0, linkable});
}

NodeItem* makeFolder(Node* parent, const char* key, const char* label, const char* itemType)
{
    return new NodeItem(parent, key, label, "", itemType);
}

TempoLink::TempoLink(Node* parent, const char* key, const char* label, Tempo* tempo, FloatParam raw,
                     std::vector<const char*> subdivisions, const char* subdivisionLabel, Order order)
    : tempo(tempo)
{
    folderNode = makeFolder(parent, key, label, ItemType::MODULE);
    raw.key = "rawdata";
    rawNode = makeFloat(folderNode, raw);
    auto makeLock = [&] {
        if (tempo) lockNode = tempo->createLinkNode(folderNode);
    };
    if (order == Order::LockBeforeSubdivision) makeLock();
    sbdvNode = new NodeEnum(folderNode, "sbdv", subdivisionLabel, std::move(subdivisions), "1/4");
    if (order == Order::LockLast) makeLock();
}

bool TempoLink::isLinked() const
{
    return tempo && lockNode && tempo->isLocked(lockNode->getValueText());
}

float TempoLink::bpm() const
{
    return isLinked() ? tempo->getTempo(lockNode->getValueText()) : 0.0f;
}

float TempoLink::rateHz() const
{
    if (!isLinked()) return rawNode->getValue();
    return bpm() * 0.016666668f * rateFactor(sbdvNode->getValueText());
}

float TempoLink::timeMs() const
{
    const float beats = bpm();
    if (!(beats > 0.0f)) return rawNode->getValue();
    return 59999.996f / beats * timeFactor(sbdvNode->getValueText());
}

namespace {
struct Subdivision {
    const char* text;
    float rate; // notes per beat
    float time; // beats per note
};
// The factors the stored presets were voiced with (hence 1.33333 and 0.333, not exact thirds).
constexpr Subdivision kSubdivisions[] = {
    {"4/4", 0.25f, 4.0f}, {"2/4", 0.5f, 2.0f},       {"1/4", 1.0f, 1.0f},   {"Dotted 8th", 1.33333f, 0.75f},
    {"1/8", 2.0f, 0.5f},  {"Triplet", 3.0f, 0.333f}, {"1/16", 4.0f, 0.25f}, {"1/32", 8.0f, 0.125f},
};

const Subdivision* findSubdivision(const char* text)
{
    if (!text) return nullptr;
    for (auto& s : kSubdivisions)
        if (std::strcmp(s.text, text) == 0) return &s;
    return nullptr;
}
} // namespace

float TempoLink::rateFactor(const char* subdivision)
{
    const Subdivision* s = findSubdivision(subdivision);
    return s ? s->rate : 1.0f;
}

float TempoLink::timeFactor(const char* subdivision)
{
    const Subdivision* s = findSubdivision(subdivision);
    return s ? s->time : 1.0f;
}

} // namespace fx
