#include "params/Node.h"

#include "params/NodeFragment.h"
#include "params/StorageId.h"
#include "porting/Clock.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

namespace {

int64_t now()
{
    // A stamp never goes back, so a poll is not blinded by the wall clock being set back.
    return change_stamp_us();
}

constexpr const char* kVisible = "visible";
constexpr const char* kColor = "color";
constexpr const char* kMode = "mode";
constexpr const char* kImg = "img";

std::string colorText(int color)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", unsigned(color) & 0xFFFFFFu);
    return text;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

Node::Node(Node* parent, const char* name, const char* displayName)
    : name(name ? name : ""), displayName(displayName ? displayName : ""), parent(parent), changeTime(now())
{
    if (parent) parent->children.push_back(this);
}

Node::~Node() = default;

void Node::createId()
{
    make_storage_id(getPath(), storageId);
}

void Node::fromSlider(float) {}

void Node::setDisplayName(const char* text)
{
    if (text) displayName.store(text, std::memory_order_release);
}

void Node::setOnChange(Callback callback)
{
    if (callback) onChange.store(callback, std::memory_order_release);
}

void Node::notifyUpdate()
{
    if (Callback callback = onChange.load(std::memory_order_acquire)) callback(this);
    changeTime.store(now(), std::memory_order_release);
}

void Node::notifyStyleUpdate()
{
    styleTime.store(now(), std::memory_order_release);
}

// ---- children

int Node::childrenCount() const
{
    return int(children.size());
}

int Node::childrenCount(bool visibleOnly) const
{
    if (!visibleOnly) return childrenCount();
    int count = 0;
    for (Node* child : children)
        if (child->getStyleVisible()) ++count;
    return count;
}

Node* Node::childrenAt(int index) const
{
    if (index < 0) return nullptr;
    for (Node* child : children)
        if (index-- == 0) return child;
    return nullptr;
}

Node* Node::childrenAt(int index, bool visibleOnly) const
{
    if (!visibleOnly) return childrenAt(index);
    if (index < 0) return nullptr;
    for (Node* child : children) {
        if (!child->getStyleVisible()) continue;
        if (index-- == 0) return child;
    }
    return nullptr;
}

int Node::childIndex(Node* child, bool visibleOnly) const
{
    if (!child || children.empty()) return -1;
    int position = -1;
    for (Node* candidate : children) {
        if (!visibleOnly || candidate->getStyleVisible()) ++position;
        if (candidate == child) return position;
    }
    return -1;
}

int Node::leafCount() const
{
    int count = 0;
    for (Node* child : children)
        if (child->isLeaf()) ++count;
    return count;
}

// ---- paths

std::string Node::getPath() const
{
    std::string path = name;
    for (const Node* node = parent; node; node = node->parent) path = std::string(node->name) + "\\" + path;
    return path;
}

Node* Node::pathToNode(const std::string& path)
{
    std::deque<Node*> queue{this};
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        std::string own = node->getPath();
        if (own == path) return node;
        if (startsWith(path, own)) queue.insert(queue.end(), node->children.begin(), node->children.end());
    }
    return nullptr;
}

std::map<std::string, Node*> Node::getChildrenMap()
{
    std::map<std::string, Node*> map;
    std::deque<Node*> queue(children.begin(), children.end());
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        map.emplace(node->getPath(), node);
        queue.insert(queue.end(), node->children.begin(), node->children.end());
    }
    return map;
}

std::map<std::string, Node*> Node::getLinkableMap()
{
    std::map<std::string, Node*> map;
    std::deque<Node*> queue{this};
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        if (node->isLink()) map.emplace(node->getPath(), node);
        queue.insert(queue.end(), node->children.begin(), node->children.end());
    }
    return map;
}

bool Node::older(int64_t since, bool recursive, Node* after, bool withStyle)
{
    if (!recursive) return since < getTime() || (withStyle && since < getStyleTime());
    std::deque<Node*> queue{this};
    bool started = after == nullptr;
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        queue.insert(queue.end(), node->children.begin(), node->children.end());
        if (!started) {
            started = node == after;
            continue;
        }
        if (node->older(since, false, nullptr, withStyle)) return true;
    }
    return false;
}

bool Node::older(int64_t since, bool recursive, Node* after)
{
    return older(since, recursive, after, false);
}

// ---- style

std::string Node::styleEntry(const char* key) const
{
    auto map = style.snapshot();
    auto found = map->find(key);
    return found == map->end() ? std::string() : found->second;
}

void Node::setStyleEntry(const char* key, const std::string& value, std::string (*effective)(const std::string*))
{
    bool changed = style.update([&](std::map<std::string, std::string>& map) {
        auto found = map.find(key);
        if (effective(found == map.end() ? nullptr : &found->second) == value) return false;
        map[key] = value;
        return true;
    });
    if (changed) notifyStyleUpdate();
}

namespace {

uint32_t readColor(const std::string* entry)
{
    if (!entry || entry->size() != 7) return 0;
    return uint32_t(std::strtoul(entry->c_str() + 1, nullptr, 16));
}

std::string effectiveVisible(const std::string* entry)
{
    return entry && *entry == "false" ? "false" : "true";
}

std::string effectiveColor(const std::string* entry)
{
    return colorText(int(readColor(entry)));
}

std::string effectiveText(const std::string* entry)
{
    return entry ? *entry : std::string();
}

} // namespace

bool Node::getStyleVisible() const
{
    return styleEntry(kVisible) != "false";
}

void Node::setStyleVisible(bool visible)
{
    setStyleEntry(kVisible, visible ? "true" : "false", effectiveVisible);
}

uint32_t Node::getStyleColor() const
{
    std::string text = styleEntry(kColor);
    return readColor(text.empty() ? nullptr : &text);
}

void Node::setStyleColor(int color)
{
    setStyleEntry(kColor, colorText(color), effectiveColor);
}

std::string Node::getStyleMode() const
{
    return styleEntry(kMode);
}

void Node::setStyleMode(std::string mode)
{
    setStyleEntry(kMode, mode, effectiveText);
}

std::string Node::getStyleImg() const
{
    return styleEntry(kImg);
}

void Node::setStyleImg(std::string img)
{
    setStyleEntry(kImg, img, effectiveText);
}

// ---- fragments

std::string Node::getStyleProperties() const
{
    auto map = style.snapshot();
    if (map->empty()) return "";
    std::string text = ",\"style\":\"";
    for (const auto& [key, value] : *map) text += key + ":" + value + ";";
    return text + "\"";
}

std::string Node::getDescriptionJSON()
{
    std::string text = std::string("\"type\":\"") + getType() + "\"";
    if (isLink()) text += ",\"link\":true";
    return text + getStyleProperties() + getDescription();
}

std::string Node::getJSON(DescriptionLevel level)
{
    switch (level) {
    case DESCRIPTION_VALUE: return getPath() + ":{" + getValueJSON() + "}";
    case DESCRIPTION_STYLE: return getPath() + ":{" + getValueJSON() + getStyleProperties() + "}";
    default:
        return getPath() + ":{\"desc\":\"" + NodeFragment::escape(getDisplayName()) + "\"," + getValueJSON() + "," +
               getDescriptionJSON() + "}";
    }
}

std::string Node::getJSON(DescriptionLevel level, bool recursive)
{
    return getJSON_after(level, recursive, nullptr, false, 0, false);
}

std::string Node::getJSON_after(DescriptionLevel level, bool recursive, Node* after)
{
    return getJSON_after(level, recursive, after, false, 0, false);
}

std::string Node::getJSON_after(DescriptionLevel level, bool recursive, Node* after, bool useSince, int64_t since,
                                bool leafAlways)
{
    if (!recursive) return getJSON(level);
    if (leafAlways && isLeaf()) return getJSON(level);
    std::string result;
    std::deque<Node*> queue{this};
    bool started = after == nullptr;
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        queue.insert(queue.end(), node->children.begin(), node->children.end());
        if (!started) {
            started = node == after;
            continue;
        }
        if (useSince && !(node->getTime() > since || node->getStyleTime() > since)) continue;
        if (!result.empty()) result += "\r\n";
        result += node->getJSON(level);
    }
    return result;
}

std::pair<std::string, std::string> Node::splitString(const std::string& text, const std::string& first,
                                                      const std::string& second)
{
    size_t start = text.find(first);
    if (start == std::string::npos) return {"", ""};
    size_t rest = start + first.size();
    size_t end = second.empty() ? std::string::npos : text.find(second, rest);
    return {text.substr(0, start), end == std::string::npos ? text.substr(rest) : text.substr(rest, end - rest)};
}

std::pair<std::string, std::string> Node::parsePathValue(const std::string& line)
{
    auto [path, members] = splitString(line, ":{", "}");
    return {path, splitString(members, "\"value\":", "").second};
}

bool Node::isWritable() const
{
    return name[0] != '_';
}

bool Node::parseJSON(const std::string& line)
{
    // The node first: how its members are read depends on it.
    size_t colon = line.find(':');
    Node* node = colon == std::string::npos ? nullptr : pathToNode(line.substr(0, colon));
    std::string path, value;
    return node && NodeFragment::parse(line, path, value, node->takesBytes()) && node->isWritable() &&
           node->fromString(value);
}

bool Node::parseStoredJSON(const std::string& line)
{
    std::string path, value;
    NodeFragment::parseStored(line, path, value);
    Node* node = pathToNode(path);
    // Folders keep what a preset stored for them: the same fixed text.
    return node && node->getName()[0] != '_' && node->fromString(value);
}

bool Node::holdsWritten(const std::string& line, bool taken)
{
    std::string path, value;
    return NodeFragment::parse(line, path, value, takesBytes()) && isWritable() && holds(value, taken);
}

bool Node::holds(const std::string& value, bool)
{
    return NodeFragment::holds(getValueJSON(), value, takesBytes());
}
