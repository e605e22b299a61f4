#pragma once
#include "params/NodeEnum.h"

// The two-option switch "ON" / "OFF" (index 0 is "ON") of every effect block and of many features.
// Blocks test it with isValue(NodeOnOff::ON) on each compile pass.
class NodeOnOff : public NodeEnum {
public:
    static constexpr const char* ON = "ON";
    static constexpr const char* OFF = "OFF";

    NodeOnOff(Node* parent, const char* name, const char* displayName, std::string defaultText);
    // An effect block's own switch: the key is "on_off" (the chain screen knows a block by it).
    NodeOnOff(Node* parent, const char* displayName, std::string defaultText);

    // Up switches on, down off; the callback runs even when nothing changes.
    void edit(bool up) override;
};
