#pragma once
#include <vector>

#include "ui/GlcdChart.h"
#include "ui/Listener.h"

class NodeArray;

// The editor of an array node, drawn only into the monochrome buffer (the colour display shows an
// empty screen while it is open): the values as a chart with a cursor, and the items "X1"/"X10"
// (step size), "Add", "Del" and "Back". The main encoder moves the cursor over the values and the
// items; turned with the push held, it edits the value under the cursor. Inactivity closes it. It
// consumes every event but inactivity. "systemTasks" only.
class DrawerArray : public Listener {
public:
    explicit DrawerArray(NodeArray* node);

    bool draw() override;
    bool onEvent(int code) override;

    // Cursor positions after the n values.
    int stepItem() const { return int(values.size()); }
    int addItem() const { return int(values.size()) + 1; }
    int delItem() const { return int(values.size()) + 2; }
    int backItem() const { return int(values.size()) + 3; }

    NodeArray* node;
    GlcdChart chart;
    // The node's values, read again after every change.
    std::vector<float> values;
    int cursor = 0;
    int tickCount = 0;
    bool fast = false;
    bool held = false;

private:
    void reload();
};
