#include "params/NodePreset.h"

#include <cstring>
#include <deque>
#include <map>
#include <memory>

namespace {

constexpr const char* kNewPresetName = "new preset";
constexpr const char* kLineBreak = "\r\n";

// The text cut to fit `capacity` characters at the end of its last complete line, so that a half
// line never reaches a node.
std::string cutAtLine(const std::string& text, size_t capacity)
{
    if (text.size() <= capacity) return text;
    size_t end = text.rfind(kLineBreak, capacity);
    return end == std::string::npos ? std::string() : text.substr(0, end);
}

} // namespace

NodePreset::NodePreset(Node* parent, const char* name, const char* displayName, std::string defaultValue,
                       NodeList* presets)
    : NodeParList(parent, name, displayName, std::move(defaultValue), presets)
{
}

void NodePreset::onLoad()
{
    setValue(getValue());
}

// ---- ignore set

bool NodePreset::isIgnored(Node* node) const
{
    for (Node* ignored : ignoreNodes)
        if (ignored == node) return true;
    return false;
}

void NodePreset::addIgnoreNode(Node* node)
{
    if (!isIgnored(node)) ignoreNodes.push_back(node);
}

void NodePreset::removeIgnoreNode(Node* node)
{
    std::erase(ignoreNodes, node);
}

void NodePreset::setIgnoreNode(Node* node, bool ignore)
{
    if (ignore) addIgnoreNode(node);
    else removeIgnoreNode(node);
}

// ---- the covered nodes

std::vector<Node*> NodePreset::coveredNodes()
{
    std::vector<Node*> covered;
    if (!parent) return covered;
    std::deque<Node*> queue{parent};
    bool started = false;
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        for (Node* child : node->getChildren())
            if (!isIgnored(child)) queue.push_back(child);
        if (started && node->isParameter()) covered.push_back(node);
        if (node == this) started = true;
    }
    return covered;
}

std::string NodePreset::presetToString()
{
    std::string text;
    for (Node* node : coveredNodes()) {
        if (!text.empty()) text += kLineBreak;
        text += node->getJSON(DESCRIPTION_VALUE);
    }
    return text;
}

bool NodePreset::isEdited()
{
    const int64_t presetTime = getTime();
    for (Node* node : coveredNodes())
        if (node->older(presetTime, false, nullptr)) return true;
    return false;
}

// ---- load and save

bool NodePreset::setValue(std::string text)
{
    size_t marker = text.find(PRESET_SAVE_SUFFIX);
    if (marker != std::string::npos) return save(text, marker);
    return load(text);
}

bool NodePreset::setByIndex(int position)
{
    std::string name = getValueAt(position);
    if (name.empty()) return false;
    setValue(name);
    return true;
}

bool NodePreset::save(const std::string& text, size_t marker)
{
    if (!list) return false;
    std::string name = text.substr(0, marker);
    if (name.empty()) name = getValue();
    if (name.empty()) return false;
    int position = list->indexOf(name);
    if (position == -1) position = list->firstEmpty();
    if (position == -1) return false; // full
    saveAs(position, name);
    return false;
}

void NodePreset::saveAs(int position, std::string name)
{
    if (!list || position < 0 || position >= list->getElementCount()) return;
    if (name.empty()) name = list->emptyAt(position) ? kNewPresetName : list->nameAt(position);
    // A name the list cannot keep would select a preset that was never stored.
    if (!NodeListElement::nameFits(name)) return;
    storeValue(name);
    storeText(position, name, presetToString());
    // The preset node is now newer than every covered node: not edited.
    notifyUpdate();
}

void NodePreset::setPresetAt(int position, std::string name, char* text)
{
    if (!list) return;
    storeText(position, name, text ? std::string(text) : std::string());
}

void NodePreset::storeText(int position, const std::string& name, const std::string& text)
{
    const size_t size = size_t(list->getElementSize());
    if (size < 1) return;
    std::string kept = cutAtLine(text, size - 1);
    auto buffer = std::make_unique<char[]>(size); // zero-filled, so the text ends with a NUL
    std::memcpy(buffer.get(), kept.data(), kept.size());
    list->setElementAt(position, name, buffer.get());
}

bool NodePreset::load(const std::string& name)
{
    int position = list && parent ? list->indexOf(name) : -1;
    if (position == -1) {
        storeValue(std::string());
        notifyUpdate();
        return false;
    }
    storeValue(name);
    notifyUpdate();

    const size_t size = size_t(list->getElementSize());
    const char* data = reinterpret_cast<const char*>(list->dataAt(position));
    std::string text = data ? std::string(data, strnlen(data, size)) : std::string();

    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of(kLineBreak, at);
        if (end == std::string::npos) end = text.size();
        if (end > at) lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    // A text that fills the element may end in a half line (an older save cut it there): a level-0
    // fragment ends with its closing brace, and one without it is not applied.
    if (text.size() + 1 >= size && !lines.empty() && lines.back().back() != '}') lines.pop_back();

    std::map<std::string, Node*> nodes = parent->getChildrenMap();
    for (Node* ignored : ignoreNodes) {
        for (const auto& entry : ignored->getChildrenMap()) nodes.erase(entry.first);
        nodes.erase(ignored->getPath());
    }
    // Never load the selector from its own preset.
    nodes.erase(getPath());

    // Only covered nodes take a value from the text.
    std::set<Node*> covered;
    for (Node* node : coveredNodes()) covered.insert(node);

    for (const std::string& line : lines) {
        std::string path = Node::parsePathValue(line).first;
        auto found = nodes.find(path);
        if (found == nodes.end() || !covered.count(found->second)) continue;
        found->second->parseJSON(line);
        nodes.erase(found);
    }
    for (const auto& entry : nodes) entry.second->reset();
    notifyUpdate();
    return true;
}
