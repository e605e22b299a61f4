#include "params/NodeEnum.h"

#include "porting/Log.h"

#include <cstring>

namespace {
constexpr const char* kTag = "Node Enum";
}

NodeEnum::NodeEnum(Node* parent, const char* name, const char* displayName, std::vector<const char*> options,
                   std::string defaultText)
    : Node(parent, name, displayName), options(std::move(options))
{
    for (const char* option : this->options) {
        if (defaultText == option) {
            value.store(option);
            defaultValue = option;
        }
    }
}

const char* NodeEnum::getValueText() const
{
    const char* text = value.load(std::memory_order_acquire);
    return text ? text : "";
}

void* NodeEnum::getStorageData(int* size)
{
    // A text item; storage reaches the text through getStorageText/setStorageText.
    *size = -1;
    return this;
}

std::string NodeEnum::getStorageText()
{
    return getValueText();
}

void NodeEnum::setStorageText(const std::string& text)
{
    if (const char* option = findOption(text, true)) value.store(option, std::memory_order_release);
}

void NodeEnum::select(const char* option)
{
    value.store(option, std::memory_order_release);
    notifyUpdate();
}

const char* NodeEnum::findOption(const std::string& text, bool last) const
{
    const char* found = nullptr;
    for (const char* option : options) {
        if (text == option) {
            found = option;
            if (!last) break;
        }
    }
    return found;
}

int NodeEnum::currentPosition() const
{
    const char* current = getValueText();
    for (int i = int(options.size()) - 1; i >= 1; --i)
        if (std::strcmp(options[size_t(i)], current) == 0) return i;
    return 0;
}

void NodeEnum::addOption(const char* option)
{
    if (option) options.push_back(option);
}

std::string NodeEnum::toString()
{
    return getValueText();
}

std::string NodeEnum::getValueJSON()
{
    return std::string("\"value\":\"") + getValueText() + "\"";
}

std::string NodeEnum::getDescription()
{
    std::string text = std::string(",\"def\":\"") + getDefault() + "\",\"options\":[";
    for (size_t i = 0; i < options.size(); ++i) {
        if (i) text += ",";
        text += std::string("\"") + options[i] + "\"";
    }
    return text + "]";
}

bool NodeEnum::fromString(std::string text)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    text = text.substr(1, text.size() - 2);
    if (text == getValueText()) return false;
    const char* option = findOption(text, false);
    if (!option) return false;
    select(option);
    return true;
}

void NodeEnum::setValue(std::string text)
{
    const char* option = findOption(text, true);
    if (!option) {
        LOG_W(kTag, "Value Not found\n");
        return;
    }
    select(option);
}

void NodeEnum::reset()
{
    setValue(getDefault());
}

void NodeEnum::setByIndex(int index)
{
    if (index < 0 || index >= int(options.size())) return;
    select(options[size_t(index)]);
}

int NodeEnum::getIndex() const
{
    const char* current = getValueText();
    for (size_t i = 0; i < options.size(); ++i)
        if (std::strcmp(options[i], current) == 0) return int(i);
    return -1;
}

bool NodeEnum::hasValue(std::string text) const
{
    return findOption(text, false) != nullptr;
}

bool NodeEnum::isValue(const char* text) const
{
    return text && std::strcmp(getValueText(), text) == 0;
}

void NodeEnum::toggle()
{
    int n = int(options.size());
    if (n == 0) return;
    int target = n == 1 ? 1 : currentPosition() + 1;
    if (target >= n) target = 0;
    select(options[size_t(target)]);
}

void NodeEnum::edit(bool up)
{
    int n = int(options.size());
    if (n == 0) return;
    if (n == 1) {
        select(options[0]);
        return;
    }
    int target = currentPosition() + (up ? 1 : -1);
    if (target < 0) target = 0;
    if (target >= n) target = n - 1;
    select(options[size_t(target)]);
}
