#pragma once
#include "params/SharedSnapshot.h"
#include "params/Storable.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <utility>

// How much a node tells about itself in its text fragment:
//   DESCRIPTION_VALUE  path:{"value":...}                      (presets)
//   DESCRIPTION_STYLE  path:{"value":...,"style":"..."}        (remote "read")
//   DESCRIPTION_FULL   path:{"desc":...,"value":...,"type":...} (remote "browse")
// Any other value gives the full form.
enum DescriptionLevel : int {
    DESCRIPTION_VALUE = 0,
    DESCRIPTION_STYLE = 1,
    DESCRIPTION_FULL = 2,
};

// The type texts that getType returns and the full fragment carries.
namespace NodeType {
inline constexpr const char* FLOAT = "float";
inline constexpr const char* ENUM = "enum";
inline constexpr const char* ITEM = "item";
inline constexpr const char* LIST = "list";
inline constexpr const char* PLIST = "plist";
inline constexpr const char* CTRL = "ctrl";
} // namespace NodeType

// The base of every value of the parameter tree. A node knows its parent and its children (in
// creation order), its key (one path component) and label, display style entries ("visible",
// "color", "mode", "img"), a change callback and two clocks: changeTime moves on every value change,
// styleTime on every style change; the remote "read" poll and the preset editor compare against them.
//
// Nodes are created with new during start-up, under a parent that already exists, and never deleted
// while the program runs; the tree's shape is fixed afterwards. Values, style entries and clocks are
// then read and written by the screen, remote, control and compile threads without locks: the clocks
// and flags are atomic, the style map is published as a whole (SharedSnapshot). Never use a node on
// the audio thread: paths, texts and fragments allocate.
//
// Paths are the keys from "root" joined by single backslashes ("root\sys\_name"); a key beginning
// with "_" cannot be written from the remote side. Times are microseconds of change_stamp_us: the
// wall clock, never going back.
class Node : public Storable {
public:
    using Callback = void (*)(Node*);

    Node(Node* parent, const char* name, const char* displayName);
    ~Node() override;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    void createId() override;

    // One step of the front-panel knob.
    virtual void edit(bool up) = 0;
    // Sets the value from a slider position 0..1; plain nodes ignore it.
    virtual void fromSlider(float position);
    // Sets the value from its JSON value text; true when the value changed.
    virtual bool fromString(std::string text) = 0;
    // The value as the screens show it.
    virtual std::string toString() = 0;
    virtual const char* getType() = 0;
    // The type's own description members, each beginning with a comma ("" for none).
    virtual std::string getDescription() = 0;
    // The "value" member of the fragment.
    virtual std::string getValueJSON() = 0;
    virtual void reset() = 0;

    Node* getParent() const { return parent; }
    const char* getName() const { return name; }
    const char* getDisplayName() const { return displayName.load(std::memory_order_acquire); }
    // Null is ignored; the text must live as long as the program.
    void setDisplayName(const char* text);
    // Null is ignored, so a callback once set stays.
    void setOnChange(Callback callback);
    void setLinkable(bool value) { linkable.store(value); }
    bool isLink() const { return linkable.load(); }
    bool isParameter() const { return parameter; }
    int64_t getTime() const { return changeTime.load(std::memory_order_acquire); }
    int64_t getStyleTime() const { return styleTime.load(std::memory_order_acquire); }

    // Runs the change callback, then stamps changeTime: every typed setter that changes a value ends
    // with it, so a poll never sees the new time before the callback has run.
    void notifyUpdate();
    void notifyStyleUpdate();

    int childrenCount() const;
    // With true: only the children that are not hidden.
    int childrenCount(bool visibleOnly) const;
    std::list<Node*> getChildren() const { return children; }
    Node* childrenAt(int index) const;
    Node* childrenAt(int index, bool visibleOnly) const;
    // The child's position; -1 for null, no children or a stranger. Counting visible children only, a
    // hidden child gives the position of the last visible child before it (-1 when none).
    int childIndex(Node* child, bool visibleOnly) const;
    int leafCount() const;
    bool isLeaf() const { return children.empty(); }

    // Built from the ancestors on every call.
    std::string getPath() const;
    // Breadth-first search below this node, descending only into nodes whose path begins the wanted
    // path; null when not found.
    Node* pathToNode(const std::string& path);
    // Every descendant keyed by path (breadth-first; the first of equal paths wins).
    std::map<std::string, Node*> getChildrenMap();
    // This node and its descendants that are linkable, keyed by path.
    std::map<std::string, Node*> getLinkableMap();

    // Changed after `since`? Recursive: any node of the subtree (breadth-first), starting after the
    // node `after` when it is given. With style, a style change counts too.
    bool older(int64_t since, bool recursive, Node* after, bool withStyle);
    bool older(int64_t since, bool recursive, Node* after);

    // Style entries. Setters write only real changes and then stamp styleTime; they never run the
    // change callback nor move changeTime.
    bool getStyleVisible() const;
    void setStyleVisible(bool visible);
    uint32_t getStyleColor() const;
    // Stores the low 24 bits as "#RRGGBB".
    void setStyleColor(int color);
    std::string getStyleMode() const;
    void setStyleMode(std::string mode);
    std::string getStyleImg() const;
    void setStyleImg(std::string img);
    std::map<std::string, std::string> getStyle() const { return style.get(); }

    // Fragment members (see DescriptionLevel).
    std::string getStyleProperties() const;
    std::string getDescriptionJSON();
    // This node's fragment.
    std::string getJSON(DescriptionLevel level);
    // The fragments of the subtree, breadth-first, joined by "\r\n".
    std::string getJSON(DescriptionLevel level, bool recursive);
    std::string getJSON_after(DescriptionLevel level, bool recursive, Node* after);
    // The full walk: output starts after `after` (when given); with useSince only nodes whose value or
    // style changed after `since`; with leafAlways a childless node answers with its fragment anyway.
    std::string getJSON_after(DescriptionLevel level, bool recursive, Node* after, bool useSince, int64_t since,
                              bool leafAlways);

    // The text before the first `first`, and the text after it up to the next `second` (to the end
    // when `second` is empty or absent). Two empty texts when `first` is absent.
    static std::pair<std::string, std::string> splitString(const std::string& text, const std::string& first,
                                                           const std::string& second);
    // (path, value text) of a fragment by the old split: the first '}' ends the members, and a string
    // value keeps its quotes and is taken raw. Only fragments stored before values were escaped need it.
    static std::pair<std::string, std::string> parsePathValue(const std::string& line);
    // Sets the value of the node that a fragment names below this node; the members must be one JSON
    // object (NodeFragment::parse). False when they are not, when no node has the path, when the node
    // cannot be written (its key begins with "_", or it is a folder) or the type refuses the value.
    bool parseJSON(const std::string& line);
    // As parseJSON for a fragment from a stored text: one that is no JSON is read as it was written,
    // and only keys beginning with "_" are refused.
    bool parseStoredJSON(const std::string& line);
    // May a fragment set this node? Not a key beginning with "_", nor a folder.
    virtual bool isWritable() const;
    // Are the strings of this node's fragments bytes rather than UTF-8 text (NodeFragment::parse)?
    virtual bool takesBytes() const { return false; }
    // After a fragment `line` was written to this node, and fromString answered `taken`: does the node
    // hold what the line asked for? What the remote side echoes rests on it. False when the line is no
    // JSON or the node cannot be written.
    bool holdsWritten(const std::string& line, bool taken);

protected:
    // Does the node hold what the value text asks for? By default its value member reads the same
    // (NodeFragment::holds); a node whose value member cannot tell decides otherwise.
    virtual bool holds(const std::string& value, bool taken);

    std::atomic<Callback> onChange{nullptr};
    const char* name;
    std::atomic<const char*> displayName;
    Node* parent;
    std::list<Node*> children;
    SharedSnapshot<std::map<std::string, std::string>> style;
    std::atomic<int64_t> changeTime;
    std::atomic<int64_t> styleTime{0};
    std::atomic<bool> linkable{false};
    // Only action nodes are not parameters.
    bool parameter = true;

private:
    std::string styleEntry(const char* key) const;
    // Writes the entry unless its effective value (what the reader makes of it) already equals `value`.
    void setStyleEntry(const char* key, const std::string& value, std::string (*effective)(const std::string*));
};
