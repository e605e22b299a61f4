#pragma once
#include <string>

#include "ui/Listener.h"

class NodeEnum;
class NodeFloat;

// An overlay editor of one float node, drawn into the monochrome buffer: the up and down codes step
// the node, the toggle code switches the optional on/off node; each restarts the idle count. Every
// tick adds 2 to it, and once it has reached `timeoutSeconds` x 5 the editor closes itself (so after
// half the timeout without such an event). The codes 0 to 9 and 16 and
// above (but the tick) pass on to the screens below; the main encoder's pushes and turns are taken.
class DrawerNodeFloat : public Listener {
public:
    DrawerNodeFloat(NodeFloat* node, int upCode, int downCode, int timeoutSeconds, std::string title, NodeEnum* onOff,
                    int toggleCode, std::string onText);

    bool draw() override;
    bool onEvent(int code) override;

    NodeFloat* node;
    int upCode;
    int downCode;
    int timeoutSeconds;
    std::string title;
    NodeEnum* onOff;
    int toggleCode;
    // The switch's value that shows the bar filled; any other value shows it hatched with "OFF".
    std::string onText;
    // Grows by 2 a tick since the last edit.
    int idleTicks = 0;
    bool closing = false;
};
