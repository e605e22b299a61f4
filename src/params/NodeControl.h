#pragma once
#include "params/Node.h"

#include <atomic>
#include <string>

class NodeEnum;

// A controller node ("ctrl"): maps the raw messages of a control source onto another node, its
// target. It names its source ("midi") and the kind of message it takes ("cc", "pc", "ck"), links
// itself to the source by name when it is built, and then receives every message of that source on
// "controlLoop"; the derived mapping decides in fromSource what the message does. The mapping's own
// settings (a CC number, a program table, a measured tempo) are the node's value, persisted and
// edited through its text forms like any other node. Controllers have no editor of their own, so a
// knob step does nothing.
class NodeControl : public Node {
public:
    using ReceiveCallback = void (*)(NodeControl*);

    // A non-empty source name links the node to that source, which must exist already.
    NodeControl(Node* parent, const char* key, const char* label, Node* target, const char* source,
                const char* sourceType);

    void edit(bool up) override;
    const char* getType() override { return NodeType::CTRL; }
    // [,"ref":"<target path as a JSON string>"],"src":"<source><type>"
    std::string getDescription() override;

    // One message of the source named `source`; runs on "controlLoop".
    virtual void fromSource(const char* source, unsigned char* bytes, int length) = 0;

    // Called by Source::send: applies the message, then runs the receive callback.
    void receiveFromSource(const char* source, unsigned char* bytes, int length);
    // Null leaves the callback as it is.
    void setOnReceive(ReceiveCallback callback);

    const char* getSource() const { return source.c_str(); }
    const char* getSourceType() const { return sourceType.c_str(); }
    Node* getTarget() const { return target; }

    // Does a MIDI message on `channel` (0..15) pass the channel selector? Selectors whose options
    // start at "0" name the channel itself, the others (options "1".."16") the channel plus one.
    static bool channelMatches(NodeEnum* selector, int channel);

protected:
    Node* target;
    const std::string source;
    const std::string sourceType;
    std::atomic<ReceiveCallback> onReceive{nullptr};
};
