#include "params/NodeControlMidiCC.h"

#include "params/NodeEnum.h"
#include "porting/Log.h"
#include "porting/TextHelpers.h"

#include <cstring>

static_assert(sizeof(std::atomic<int>) == sizeof(int), "the stored image is the plain int");

NodeControlMidiCC::NodeControlMidiCC(Node* parent, const char* key, const char* label, Node* target, int cc,
                                     NodeEnum* channel)
    : NodeControl(parent, key, label, target, "midi", "cc"), cc(cc), defaultCc(cc), channel(channel)
{
    if (target) LOG_I("MIDI_CC", "MIDI CC %d - %s %s\n", cc, target->getPath().c_str(), target->getDisplayName());
}

void* NodeControlMidiCC::getStorageData(int* size)
{
    *size = int(sizeof(int));
    return &cc;
}

void NodeControlMidiCC::onLoad()
{
    int loaded = cc.load();
    if (loaded < 0 || loaded > 127) cc.store(defaultCc);
}

bool NodeControlMidiCC::fromString(std::string text)
{
    int number = 0;
    // The whole text must be the number: the terminator is the text's own end.
    if (tryParseInt(text.c_str(), &number, '\0') == 0) return false;
    if (number < 0 || number > 127) return false;
    cc.store(number);
    notifyUpdate();
    return true;
}

std::string NodeControlMidiCC::toString()
{
    return std::to_string(cc.load());
}

std::string NodeControlMidiCC::getValueJSON()
{
    return "\"value\":" + toString();
}

void NodeControlMidiCC::reset()
{
    cc.store(defaultCc);
    notifyUpdate();
}

void NodeControlMidiCC::fromSource(const char*, unsigned char* bytes, int length)
{
    if (length != 3 || !bytes) return;
    if (((bytes[0] >> 4) & 7) != 3 || !channel) return;
    if ((bytes[1] & 0x7F) != cc.load()) return;
    if (!channelMatches(channel, bytes[0] & 0x0F)) return;
    int v = bytes[2] & 0x7F;
    if (!target) return;
    const char* type = target->getType();
    if (std::strcmp(type, NodeType::FLOAT) == 0) {
        target->fromSlider(float(v) / 127.0f);
    } else if (std::strcmp(type, NodeType::ENUM) == 0) {
        auto* options = dynamic_cast<NodeEnum*>(target);
        if (options) options->setByIndex(((127 - v) * options->getItemCount()) / 128);
    }
}
