#pragma once
#include "params/NodeItem.h"

#include <string>

// An item ("link") whose value names another node of the application tree: the parameter that a
// link of a multi-controller drives. The value is the node's path from "root", normally with every
// backslash doubled (as it travels in JSON), or "" for no link; single backslashes are read alike.
// The knob steps it through the linkable nodes of the application tree in path order; the screens
// show the linked node's folder and label.
//
// The application node is the "app" child of the tree's top node (root\app), found from the link's
// own position, since the parameter tree sits below the system layer that builds it.
class NodeLink : public NodeItem {
public:
    NodeLink(Node* parent, const char* name, const char* displayName, std::string path);

    // Up: the next linkable path (none after the last); down: the previous one, or no link before the
    // first. A path that is not (or no longer) linkable goes to the first path up, to no link down.
    void edit(bool up) override;
    // "<parent label>\<label>" of the linked node ("<label>" when its parent is the application
    // node); "" when nothing is linked.
    std::string toString() override;

    // A JSON string (NodeFragment::unquote); the path is kept with its backslashes doubled.
    bool fromString(std::string text) override;
    // The path with single backslashes, escaped for JSON: the doubled form that it always travelled in.
    std::string getValueJSON() override;

    // Null for no link or a path that names no node.
    Node* getLinkedNode();

private:
    Node* applicationNode() const;
};
