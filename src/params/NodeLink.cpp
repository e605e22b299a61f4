#include "params/NodeLink.h"

#include "params/NodeFragment.h"

#include "porting/TextHelpers.h"

#include <cstring>
#include <map>

namespace {

std::string singleBackslashes(const std::string& path)
{
    return ReplaceString(path, "\\\\", "\\");
}

std::string doubleBackslashes(const std::string& path)
{
    return ReplaceString(path, "\\", "\\\\");
}

} // namespace

NodeLink::NodeLink(Node* parent, const char* name, const char* displayName, std::string path)
    : NodeItem(parent, name, displayName, std::move(path), ItemType::LINK)
{}

Node* NodeLink::applicationNode() const
{
    const Node* top = this;
    while (top->getParent()) top = top->getParent();
    for (Node* child : top->getChildren())
        if (std::strcmp(child->getName(), "app") == 0) return child;
    return nullptr;
}

Node* NodeLink::getLinkedNode()
{
    std::string path = getText();
    if (path.empty()) return nullptr;
    Node* app = applicationNode();
    return app ? app->pathToNode(singleBackslashes(path)) : nullptr;
}

bool NodeLink::fromString(std::string text)
{
    std::string path;
    if (!NodeFragment::unquote(text, path)) return false;
    return setValue(doubleBackslashes(singleBackslashes(path)));
}

std::string NodeLink::getValueJSON()
{
    return "\"value\":\"" + NodeFragment::escape(singleBackslashes(getText())) + "\"";
}

std::string NodeLink::toString()
{
    Node* linked = getLinkedNode();
    if (!linked) return "";
    Node* folder = linked->getParent();
    if (!folder || folder == applicationNode()) return linked->getDisplayName();
    return std::string(folder->getDisplayName()) + "\\" + linked->getDisplayName();
}

void NodeLink::edit(bool up)
{
    Node* app = applicationNode();
    std::map<std::string, Node*> linkable;
    if (app) linkable = app->getLinkableMap();
    auto current = linkable.find(singleBackslashes(getText()));
    if (current == linkable.end()) {
        if (up && !linkable.empty()) setValue(linkable.begin()->first);
        else setValue("");
        return;
    }
    if (up) {
        auto next = std::next(current);
        if (next != linkable.end()) setValue(doubleBackslashes(next->first));
    } else if (current == linkable.begin()) {
        setValue("");
    } else {
        setValue(doubleBackslashes(std::prev(current)->first));
    }
}
