#include "params/NodeControlMulti.h"

#include "params/Control.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeLink.h"
#include "params/NodeOnOff.h"
#include "params/NodePreset.h"
#include "params/Source.h"
#include "params/Storage.h"
#include "porting/Log.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr const char* kTag = "NodeControlMulti";
constexpr const char* kMidi = "midi";
constexpr const char* kMidiLabel = "MIDI CC";
} // namespace

NodeControlMulti::NodeControlMulti(Node* parent, const char* key, const char* label, NodeEnum* channel, Node* settings,
                                   NodePreset* preset, int linkCount)
    : NodeControl(parent, key, label, nullptr, "", ""), channel(channel)
{
    for (const std::string& name : Control::listSources()) {
        Source* source = Control::getSource(name.c_str());
        std::string optionLabel = name == kMidi ? kMidiLabel : (source ? source->getLabel() : name.c_str());
        if (name == kMidi) midiIndex = int(sourceNames.size());
        sourceNames.push_back(name);
        sourceLabels.push_back(optionLabel);
        LOG_I(kTag, "%s - detected source %s %s\n", key, name.c_str(), optionLabel.c_str());
    }
    if (sourceNames.empty()) {
        LOG_E(kTag, "No detected source\n");
        return;
    }

    Node* folder = settings ? settings : parent;
    std::vector<const char*> options;
    for (const std::string& optionLabel : sourceLabels) options.push_back(optionLabel.c_str());
    sourceSelector = new NodeEnum(folder, "src", "Source", options, midiIndex >= 0 ? kMidiLabel : options.front());
    learn = new NodeOnOff(folder, "lrn", "Learn", NodeOnOff::OFF);
    if (midiIndex >= 0) {
        char addressKey[32];
        std::snprintf(addressKey, sizeof addressKey, "opt%d_address", midiIndex);
        address = new NodeFloat(folder, keep(addressKey), "Address", 32, 127, 32, "", 0.5f, false, 0);
    }
    status = new NodeFloat(folder, "_st", "Status", 0, 100, 0, "%", 0.5f, false, 1);
    for (int i = 1; i <= linkCount; ++i) {
        char linkKey[32];
        char linkLabel[32];
        std::snprintf(linkKey, sizeof linkKey, "lnk%d", i);
        std::snprintf(linkLabel, sizeof linkLabel, "Link %d", i);
        Link link;
        link.folder = new NodeItem(folder, keep(linkKey), keep(linkLabel), "", ItemType::VFOLDER_TC);
        link.min = new NodeFloat(link.folder, "min", "Min Value", 0, 100, 0, "%", 0.5f, false, 1);
        link.max = new NodeFloat(link.folder, "max", "Max Value", 0, 100, 100, "%", 0.5f, false, 1);
        link.param = new NodeLink(link.folder, "lnk", "Param", "");
        links.push_back(link);
    }

    if (preset) {
        preset->addIgnoreNode(learn);
        preset->addIgnoreNode(status);
    } else {
        Storage::addItem(sourceSelector);
        if (address) Storage::addItem(address);
    }
    for (const Link& link : links) {
        Storage::addItem(link.min);
        Storage::addItem(link.max);
        Storage::addItem(link.param);
    }

    for (const std::string& name : sourceNames) Control::linkSource(name.c_str(), this);
}

const char* NodeControlMulti::keep(std::string text)
{
    texts.push_back(std::move(text));
    return texts.back().c_str();
}

void* NodeControlMulti::getStorageData(int* size)
{
    *size = 0;
    return nullptr;
}

bool NodeControlMulti::fromString(std::string)
{
    return true;
}

std::string NodeControlMulti::toString()
{
    return "";
}

std::string NodeControlMulti::getValueJSON()
{
    // The empty value as a JSON string, so that a client can parse the fragment.
    return "\"value\":\"\"";
}

void NodeControlMulti::reset()
{
    notifyUpdate();
}

void NodeControlMulti::fromSource(const char* source, unsigned char* bytes, int length)
{
    if (!sourceSelector || !source || !bytes || length < 1) return;
    int selected = sourceSelector->getIndex();
    if (selected < 0 || selected >= int(sourceNames.size())) return;
    if (sourceNames[size_t(selected)] != source) return;

    if (midiIndex >= 0 && std::strcmp(source, kMidi) == 0 && length == 3 && ((bytes[0] >> 4) & 7) == 3) {
        if (!channel || !channelMatches(channel, bytes[0] & 0x0F)) return;
        int cc = bytes[1] & 0x7F;
        int v = bytes[2] & 0x7F;
        if (learn->isValue(NodeOnOff::ON)) {
            // The address holds 32..127 only: a lower number could never be matched again (a
            // clamped address would name another controller), so learning waits for a usable one.
            if (cc < int(address->getMin()) || cc > int(address->getMax())) return;
            address->setValue(float(cc));
            learn->setValue(NodeOnOff::OFF);
            return;
        }
        if (int(address->getValue()) != cc) return;
        drive(float(v) * 100.0f / 127.0f);
        return;
    }
    if (std::strstr(source, "ctrl")) drive(float(bytes[0]) * 100.0f / 255.0f);
}

void NodeControlMulti::drive(float level)
{
    status->setValue(level);
    for (const Link& link : links) {
        auto* target = dynamic_cast<NodeFloat*>(link.param->getLinkedNode());
        if (!target) continue;
        float min = link.min->getValue();
        float max = link.max->getValue();
        target->fromSlider((min + (max - min) * level / 100.0f) / 100.0f);
    }
}
