#include "params/NodePassword.h"

NodePassword::NodePassword(Node* parent, const char* name, const char* displayName, std::string text,
                           const char* itemType)
    : NodeItem(parent, name, displayName, std::move(text), itemType)
{
    setSecret();
}
