#include "params/NodeItem.h"

#include "params/NodeFragment.h"

#include <cstring>

namespace {
// Per thread: a reply for one client is built on one thread while others may build theirs.
thread_local bool hidingSecrets = false;
} // namespace

NodeItem::SecretsHidden::SecretsHidden(bool hide) : previous(hidingSecrets)
{
    hidingSecrets = previous || hide;
}

NodeItem::SecretsHidden::~SecretsHidden()
{
    hidingSecrets = previous;
}

NodeItem::NodeItem(Node* parent, const char* name, const char* displayName, std::string text, const char* itemType)
    : Node(parent, name, displayName), itemType(itemType ? itemType : ""), value(text), defaultValue(text)
{}

void* NodeItem::getStorageData(int* size)
{
    // A text item; storage reaches the text through getStorageText/setStorageText.
    *size = -1;
    return this;
}

std::string NodeItem::getStorageText()
{
    return getText();
}

void NodeItem::setStorageText(const std::string& text)
{
    value.set(text);
}

void NodeItem::edit(bool) {}

std::string NodeItem::getValue()
{
    return getText();
}

std::string NodeItem::toString()
{
    return getText();
}

bool NodeItem::setValue(std::string text)
{
    if (text.size() > kMaxLength || text.find('\0') != std::string::npos || text == *value.snapshot()) return false;
    value.set(std::move(text));
    notifyUpdate();
    return true;
}

bool NodeItem::fromString(std::string text)
{
    std::string decoded;
    if (!NodeFragment::unquote(text, decoded)) return false;
    return setValue(std::move(decoded));
}

bool NodeItem::holds(const std::string& value, bool taken)
{
    if (!isSecret()) return Node::holds(value, taken);
    std::string text;
    return NodeFragment::unquote(value, text) && text == getText();
}

bool NodeItem::isWritable() const
{
    for (const char* text : {ItemType::STRING, ItemType::COLOR, ItemType::LINK})
        if (std::strcmp(itemType, text) == 0) return Node::isWritable();
    return false;
}

void NodeItem::reset()
{
    setValue(defaultValue);
}

std::string NodeItem::getValueJSON()
{
    return "\"value\":\"" + (secret && hidingSecrets ? std::string() : NodeFragment::escape(getValue())) + "\"";
}

std::string NodeItem::getDescription()
{
    return std::string(",\"item_type\":\"") + itemType + "\",\"def\":\"" + NodeFragment::escape(defaultValue) + "\"";
}
