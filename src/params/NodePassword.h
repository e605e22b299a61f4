#pragma once
#include "params/NodeItem.h"

// A password: set like any text item (remote "write", the keyboard), shown on the unit's own screen
// (toString), but never sent: its JSON value is always "". The login check reads getText().
class NodePassword : public NodeItem {
public:
    NodePassword(Node* parent, const char* name, const char* displayName, std::string text, const char* itemType);

    std::string getValue() override { return ""; }
};
