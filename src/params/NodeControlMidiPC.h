#pragma once
#include "params/NodeControl.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class NodeEnum;
class NodeParList;

// A MIDI program-change mapping onto a parameter list (the preset selector): a table with one MIDI
// program number per element of the list (-1 for none). A program change on the selected channel
// selects the first element whose entry equals the program, when that element has a name. The table
// is the node's value: "[0,1,2,...]" as text and JSON, 4 bytes per entry in storage. Its size is the
// list's element count at construction. Messages arrive on "controlLoop"; entries are atomic, so the
// remote side may rewrite the table meanwhile.
class NodeControlMidiPC : public NodeControl {
public:
    // Entry i starts as first + i, or -1 for all when `first` is negative.
    NodeControlMidiPC(Node* parent, const char* key, const char* label, NodeParList* list, int first,
                      NodeEnum* channel);

    void* getStorageData(int* size) override;
    // A stored entry outside 0..127 means "none".
    void onLoad() override;

    // Exactly "[n0,n1,...]" with one integer per entry; anything else leaves the table and returns
    // false. Either way the change is announced, so a polling client reads the table back.
    bool fromString(std::string text) override;
    std::string toString() override;
    std::string getValueJSON() override;
    void reset() override;
    void fromSource(const char* source, unsigned char* bytes, int length) override;

    // Validates a table text; with apply, the numbers are written into the table as they are read.
    bool check_value(const std::string& text, bool apply);

    int getCount() const { return count; }
    int getEntry(int index) const;

private:
    NodeParList* list;
    NodeEnum* channel;
    int first;
    int count;
    std::unique_ptr<std::atomic<int>[]> entries;
    std::vector<int> defaults;
};
