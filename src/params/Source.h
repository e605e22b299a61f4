#pragma once
#include <set>
#include <string>

class NodeControl;

// A control source: the MIDI input or the analog controller. It produces short raw messages (MIDI
// bytes; for the analog input a one-byte level) and hands each one to every controller node linked
// to it. The source classes themselves live with the drivers; this base is what the parameter tree
// sees of them, so that controller nodes can link to a source by name.
//
// A source registers itself with Control under its name when it is constructed (start-up, main
// thread); controllers link to it before "controlLoop" starts. tasks() and send() then run on
// "controlLoop" only.
class Source {
public:
    // `name` is the registry key ("midi", "ctrl"), `label` the text shown to the player ("MIDI",
    // "Ctrl"). A null name builds a source that is not registered.
    Source(const char* name, const char* label);
    // Leaves the registry, so that no one reaches a source that is gone.
    virtual ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // One poll, every 10 ms on "controlLoop"; the base has nothing to poll.
    virtual void tasks() {}

    // Hands one message to every linked controller, in pointer order.
    void send(unsigned char* bytes, int length);
    // A controller present already is not added twice.
    void addController(NodeControl* controller);

    const char* getName() const { return name.c_str(); }
    const char* getLabel() const { return label.c_str(); }
    bool hasName() const { return named; }

protected:
    const std::string name;
    const std::string label;
    const bool named;
    std::set<NodeControl*> controllers;
};
