#pragma once
#include "ui/Listener.h"

class Node;

// The browser and editor of the parameter tree: the visible children of one node, five rows at a
// time, with a "Back" row last when there is a screen below to go back to. A click opens a child
// that has children in a further browser, and edits a leaf by its type: numbers, choices, colours
// and links in place (the main encoder then steps the node until the next click; a long press
// resets a float to its default), texts through the keyboard, confirmed actions after a popup,
// list selections through the list screen. Footswitch and unlisted codes pass to the screens below,
// so presets still change underneath. Runs on "systemTasks"; node values are read afresh each frame.
class DrawerNode : public Listener {
public:
    explicit DrawerNode(Node* node);

    // Shows another node from the top.
    void setNode(Node* node);
    // Rows: the visible children, plus "Back" when the stack holds two or more screens.
    int itemCount();

    bool draw() override;
    bool onEvent(int code) override;

protected:
    Node* node = nullptr;
    int cursor = 0;
    int tickCount = 0;
    int scrollTop = 0;
    // The child being edited in place; null while only the cursor moves.
    Node* editNode = nullptr;

private:
    void drawRow(Node* child, int y, bool selected, int width, int valueRight, int boxX, int sliderX);
    void open();
    void openLeaf(Node* child);
};
