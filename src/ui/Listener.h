#pragma once
#include "ui/EventCode.h"

#include <atomic>

// Base of every screen. Constructing a screen puts it on top of the screen stack of
// EventDispatcher, which owns it from then on: it leaves the stack only through
// EventDispatcher::removeListener (event CLOSE), which deletes it. Screens are constructed, drawn,
// fed events and closed on "systemTasks" (or on the main thread during start-up).
class Listener {
public:
    Listener();
    virtual ~Listener() = default;

    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Builds this frame's widgets. True = drawn (screens below are not asked); false = this screen
    // shows nothing now (an inactive overlay), ask the next one down.
    virtual bool draw() = 0;
    // Handles an event code; true = consumed, false = pass it on to the next screen down.
    virtual bool onEvent(int code) = 0;
    // Called for a broadcast code on every screen (on the thread that broadcasts), from the first
    // dispatch after the screen was constructed on.
    virtual void onBroadcast(int code);

private:
    friend class EventDispatcher;
    // The screen joins the stack from this base's constructor, before its own constructor has run:
    // until a dispatch on the constructing thread has settled it, a broadcast passes it by.
    std::atomic<bool> settled{false};
};
