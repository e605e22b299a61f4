#include "params/NodePreset.h"

#include "params/NodeFragment.h"
#include "porting/Log.h"
#include "porting/TextHelpers.h"

#include <cstring>
#include <deque>
#include <map>
#include <memory>

namespace {

constexpr const char* kTag = "Preset";
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

// The text without the save marker at its end; false when it does not end with the marker.
bool withoutSaveMarker(const std::string& text, std::string* name)
{
    const size_t marker = std::char_traits<char>::length(PRESET_SAVE_SUFFIX);
    if (text.size() < marker || text.compare(text.size() - marker, marker, PRESET_SAVE_SUFFIX) != 0) return false;
    *name = text.substr(0, text.size() - marker);
    return true;
}

// The name that a remote value text (a quoted, escaped name, perhaps followed by the marker) asks
// for, and whether it asks for a save; false when the text is no quoted name.
bool readRequest(const std::string& text, std::string* name, bool* saving)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    std::string inner = text.substr(1, text.size() - 2);
    // The marker follows the escaped name, whose own quotes are escaped: a name cannot fake it.
    *saving = withoutSaveMarker(inner, &inner);
    return NodeFragment::unquote("\"" + inner + "\"", *name);
}

} // namespace

NodePreset::NodePreset(Node* parent, const char* name, const char* displayName, std::string defaultValue,
                       NodeList* presets)
    : NodeParList(parent, name, displayName, std::move(defaultValue), presets), snapshotTime(getTime())
{}

void NodePreset::onLoad()
{
    select(getValue());
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
    const int64_t presetTime = snapshotTime.load(std::memory_order_acquire);
    for (Node* node : coveredNodes())
        if (node->older(presetTime, false, nullptr)) return true;
    return false;
}

// ---- load and save

bool NodePreset::setValue(std::string text)
{
    std::string name;
    if (!withoutSaveMarker(text, &name)) return load(text);
    save(name);
    return false;
}

bool NodePreset::fromString(std::string text)
{
    std::string name;
    bool saving = false;
    if (!readRequest(text, &name, &saving)) return false;
    if (saving) return save(name);
    load(name);
    return true;
}

bool NodePreset::holds(const std::string& value, bool taken)
{
    std::string name;
    bool saving = false;
    if (readRequest(value, &name, &saving) && saving) return taken;
    return NodeParList::holds(value, taken);
}

bool NodePreset::select(std::string name)
{
    return load(name);
}

bool NodePreset::setByIndex(int position)
{
    std::string name = getValueAt(position);
    if (name.empty()) return false;
    select(name);
    return true;
}

bool NodePreset::save(std::string name)
{
    if (name.empty()) name = getValue();
    const char* why = name.empty() ? "no name" : saveRefusal(name);
    if (!why && saveAs(savePosition(name), name)) return true;
    LOG_W(kTag, "Not saved as \"%s\": %s\n", log_excerpt(name).c_str(), why ? why : "not stored");
    return false;
}

int NodePreset::savePosition(const std::string& name)
{
    int position = list->indexOf(name);
    return position == -1 ? list->firstEmpty() : position;
}

const char* NodePreset::saveRefusal(const std::string& name)
{
    if (!list) return "no list";
    int position = savePosition(name);
    return position == -1 ? "no empty slot" : list->refusal(position, name);
}

bool NodePreset::saveAs(int position, std::string name)
{
    if (!list || position < 0 || position >= list->getElementCount()) return false;
    if (name.empty()) name = list->emptyAt(position) ? kNewPresetName : list->nameAt(position);
    // A name the list does not keep would select a preset that was never stored.
    if (!storeText(position, name, presetToString())) return false;
    storeValue(name);
    // The preset node is now newer than every covered node: not edited.
    notifyUpdate();
    snapshotTime.store(getTime(), std::memory_order_release);
    return true;
}

void NodePreset::setPresetAt(int position, std::string name, char* text)
{
    if (!list) return;
    storeText(position, name, text ? std::string(text) : std::string());
}

bool NodePreset::storeText(int position, const std::string& name, const std::string& text)
{
    const size_t size = size_t(list->getElementSize());
    if (size < 1) return false;
    std::string kept = cutAtLine(text, size - 1);
    auto buffer = std::make_unique<char[]>(size); // zero-filled, so the text ends with a NUL
    std::memcpy(buffer.get(), kept.data(), kept.size());
    return list->setElementAt(position, name, buffer.get());
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
        std::string path, value;
        NodeFragment::parseStored(line, path, value);
        auto found = nodes.find(path);
        if (found == nodes.end() || !covered.count(found->second)) continue;
        found->second->parseStoredJSON(line);
        nodes.erase(found);
    }
    for (const auto& entry : nodes) entry.second->reset();
    notifyUpdate();
    snapshotTime.store(getTime(), std::memory_order_release);
    return true;
}
