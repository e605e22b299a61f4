#pragma once
#include <concurrentqueue/concurrentqueue.h>

#include <atomic>
#include <list>
#include <mutex>

class Listener;

// The screen stack and the queue of event codes.
//
// Any thread may post a code (addEvent: lock-free, never blocks; codes of one thread keep their
// order). Only "systemTasks" dispatches them, from the newest screen down, and only it changes the
// stack after start-up. broadcast runs on "eventTasks" (the tick), so stack changes and broadcast
// walks are serialised by a lock that the dispatch walk itself never needs. A screen that has just
// joined gets broadcasts only once a dispatch has begun after its construction.
class EventDispatcher {
public:
    static void addListener(Listener* listener);
    // Takes the listener off the stack and deletes it (also when it was not on the stack).
    static void removeListener(Listener* listener);
    static void addEvent(int code);
    // Hands out queued events for at most 10 ms and 129 events. Returns 0 when it closed the top
    // screen (the rest of the queue waits for the next call), otherwise 1.
    static int dispatch();
    // onBroadcast on every screen, newest first; nothing consumes it.
    static void broadcast(int code);
    static bool hasFocus(Listener* listener);
    static int elements();

    // Oldest (the home screen) at the front, the screen with the focus at the back.
    static std::list<Listener*>& events;
    static moodycamel::ConcurrentQueue<int>& eventQueue;

    static constexpr int kMaxEventsPerCall = 129;
    static constexpr long long kMaxDispatchMicros = 9999;

private:
    static std::recursive_mutex& stackLock;
    // Screens on the stack that broadcasts still pass by.
    static std::atomic<int> unsettled;
};
