#pragma once
#include "params/Node.h"

#include <vector>

// Nodes live for the whole program and are never deleted; tests keep their trees reachable the same
// way, so that the leak checker only reports real leaks.
template <class T>
T* keep(T* node)
{
    static auto* nodes = new std::vector<Node*>;
    nodes->push_back(node);
    return node;
}
