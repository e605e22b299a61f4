#pragma once
#include "ui/Listener.h"

class KestrunBsp;
class Node;

// The application of a unit started in update mode: the board (inputs, display, control sources,
// start-up scripts) and the identity items, but no effects, presets or home screen. It is the only
// screen at start: a fixed page from which a click of the main encoder opens the system settings,
// while the remote transports (started by main as usual) can receive a new program image.
// Constructed once by main on the main thread; drawn and fed events on "systemTasks".
class KestrunUpdater : public Listener {
public:
    // The two nodes are not used: update mode builds no tree of its own.
    KestrunUpdater(Node* app, Node* root);

    bool draw() override;
    bool onEvent(int code) override;

    KestrunBsp* bsp = nullptr;
};
