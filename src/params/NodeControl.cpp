#include "params/NodeControl.h"

#include "params/Control.h"
#include "params/NodeEnum.h"
#include "porting/TextHelpers.h"

#include <string>

NodeControl::NodeControl(Node* parent, const char* key, const char* label, Node* target, const char* source,
                         const char* sourceType)
    : Node(parent, key, label), target(target), source(source ? source : ""), sourceType(sourceType ? sourceType : "")
{
    if (!this->source.empty()) Control::linkSource(this->source.c_str(), this);
}

void NodeControl::edit(bool) {}

std::string NodeControl::getDescription()
{
    std::string text = ",";
    if (target) text += "\"ref\":\"" + ReplaceString(target->getPath(), "\\", "\\\\") + "\",";
    text += "\"src\":\"" + source + sourceType + "\"";
    return text;
}

void NodeControl::receiveFromSource(const char* source, unsigned char* bytes, int length)
{
    fromSource(source, bytes, length);
    ReceiveCallback callback = onReceive.load();
    if (callback) callback(this);
}

void NodeControl::setOnReceive(ReceiveCallback callback)
{
    if (callback) onReceive.store(callback);
}

bool NodeControl::channelMatches(NodeEnum* selector, int channel)
{
    if (!selector) return false;
    int wanted = selector->hasValue("0") ? channel : channel + 1;
    return selector->isValue(std::to_string(wanted).c_str());
}
