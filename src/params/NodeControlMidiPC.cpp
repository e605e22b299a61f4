#include "params/NodeControlMidiPC.h"

#include "params/NodeEnum.h"
#include "params/NodeParList.h"
#include "porting/TextHelpers.h"

#include <algorithm>

NodeControlMidiPC::NodeControlMidiPC(Node* parent, const char* key, const char* label, NodeParList* list, int first,
                                     NodeEnum* channel)
    : NodeControl(parent, key, label, list, "midi", "pc"), list(list), channel(channel), first(first),
      count(list ? std::max(list->getElementCount(), 0) : 0), entries(new std::atomic<int>[size_t(count)]),
      defaults(size_t(count))
{
    for (int i = 0; i < count; ++i) {
        defaults[size_t(i)] = first >= 0 ? first + i : -1;
        entries[size_t(i)].store(defaults[size_t(i)]);
    }
}

void* NodeControlMidiPC::getStorageData(int* size)
{
    *size = int(sizeof(int)) * count;
    return count > 0 ? entries.get() : nullptr;
}

void NodeControlMidiPC::onLoad()
{
    for (int i = 0; i < count; ++i) {
        int entry = entries[size_t(i)].load();
        if (entry < 0 || entry > 127) entries[size_t(i)].store(-1);
    }
}

int NodeControlMidiPC::getEntry(int index) const
{
    return index >= 0 && index < count ? entries[size_t(index)].load() : -1;
}

bool NodeControlMidiPC::check_value(const std::string& text, bool apply)
{
    if (count <= 0) return false;
    if (text.size() < size_t(2 * count + 1)) return false;
    if (text.front() != '[' || text.back() != ']') return false;
    if (::count(text, ',') != count - 1) return false;
    size_t position = 1;
    for (int i = 0; i < count; ++i) {
        int number = 0;
        int length = tryParseInt(text.c_str() + position, &number, i < count - 1 ? ',' : ']');
        if (length == 0) return false;
        if (apply) entries[size_t(i)].store(number);
        position += size_t(length) + 1;
    }
    // Nothing may follow the closing bracket of the last number.
    return position == text.size();
}

bool NodeControlMidiPC::fromString(std::string text)
{
    bool valid = check_value(text, false);
    if (valid) check_value(text, true);
    notifyUpdate();
    return valid;
}

std::string NodeControlMidiPC::toString()
{
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += ",";
        text += std::to_string(entries[size_t(i)].load());
    }
    return text + "]";
}

std::string NodeControlMidiPC::getValueJSON()
{
    return "\"value\":" + toString();
}

void NodeControlMidiPC::reset()
{
    for (int i = 0; i < count; ++i) entries[size_t(i)].store(defaults[size_t(i)]);
    notifyUpdate();
}

void NodeControlMidiPC::fromSource(const char*, unsigned char* bytes, int length)
{
    if (length != 2 || !bytes) return;
    if (((bytes[0] >> 4) & 7) != 4 || !channel) return;
    if (!channelMatches(channel, bytes[0] & 0x0F)) return;
    int program = bytes[1];
    for (int i = 0; i < count; ++i) {
        if (entries[size_t(i)].load() != program) continue;
        std::string name = list->getValueAt(i);
        if (!name.empty()) list->select(name);
        return;
    }
}
