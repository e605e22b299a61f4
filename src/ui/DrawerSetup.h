#pragma once
#include <vector>

#include "ui/Listener.h"

class Node;

// The settings menu "Setup": the settings folders of the tree (children of the root of item type
// "sfolder" that have children), then the system node, and "Back" when there is a screen below.
// A click opens a node browser on the entry. The entries are fixed when the screen is built. Codes
// it does not list (the main push's long press, footswitches) pass to the screens below. Runs on
// "systemTasks".
class DrawerSetup : public Listener {
public:
    DrawerSetup();

    bool draw() override;
    bool onEvent(int code) override;

protected:
    std::vector<Node*> folders;
    int cursor = 0;
    int tickCount = 0;
    int scrollTop = 0;
    int rows = 0;
};
