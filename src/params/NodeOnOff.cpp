#include "params/NodeOnOff.h"

NodeOnOff::NodeOnOff(Node* parent, const char* name, const char* displayName, std::string defaultText)
    : NodeEnum(parent, name, displayName, {ON, OFF}, std::move(defaultText))
{}

NodeOnOff::NodeOnOff(Node* parent, const char* displayName, std::string defaultText)
    : NodeOnOff(parent, "on_off", displayName, std::move(defaultText))
{}

void NodeOnOff::edit(bool up)
{
    setValue(up ? ON : OFF);
}
