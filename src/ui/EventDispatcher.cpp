#include "ui/EventDispatcher.h"

#include <algorithm>

#include "porting/Clock.h"
#include "porting/Log.h"
#include "ui/EventCode.h"
#include "ui/Listener.h"

namespace {
constexpr const char* kTag = "Event";
}

// Never destroyed: the service threads still post and walk while the process exits.
std::list<Listener*>& EventDispatcher::events = *new std::list<Listener*>;
moodycamel::ConcurrentQueue<int>& EventDispatcher::eventQueue = *new moodycamel::ConcurrentQueue<int>;
std::recursive_mutex& EventDispatcher::stackLock = *new std::recursive_mutex;
std::atomic<int> EventDispatcher::unsettled{0};

void EventDispatcher::addListener(Listener* listener)
{
    if (!listener) return;
    std::lock_guard<std::recursive_mutex> guard(stackLock);
    if (std::find(events.begin(), events.end(), listener) != events.end()) return;
    events.push_back(listener);
    unsettled.fetch_add(1);
}

void EventDispatcher::removeListener(Listener* listener)
{
    if (!listener) return;
    {
        std::lock_guard<std::recursive_mutex> guard(stackLock);
        events.remove(listener);
    }
    // Off the stack before it goes, so that no broadcast can reach a deleted screen.
    delete listener;
}

void EventDispatcher::addEvent(int code)
{
    // A failed allocation drops the code; the input scanner must never wait for the screens.
    (void)eventQueue.enqueue(code);
}

namespace {

// Calls `visit` on the screens from the newest down until it returns true. A screen may push
// screens or close newer ones while it is called (a modal wait dispatches again from inside
// onEvent), so the walk never holds an iterator across a call: it finds the screen again
// afterwards and goes on below it. When the screen itself is gone, the stack under the walk has
// changed and the event counts as handled.
template <typename Visit>
void walk_down(std::list<Listener*>& stack, Visit visit)
{
    if (stack.empty()) return;
    Listener* current = stack.back();
    for (;;) {
        if (visit(current)) return;
        auto it = std::find(stack.begin(), stack.end(), current);
        if (it == stack.end() || it == stack.begin()) return;
        current = *std::prev(it);
    }
}

} // namespace

int EventDispatcher::dispatch()
{
    // Screens are constructed on this thread (or before it runs), so every one on the stack now is
    // whole: the broadcasts may reach them.
    if (unsettled.load() > 0) {
        std::lock_guard<std::recursive_mutex> guard(stackLock);
        for (Listener* listener : events) listener->settled.store(true);
        unsettled.store(0);
    }
    const uint64_t t0 = esp_timer_get_time();
    int handled = 0;
    for (;;) {
        if (esp_timer_get_time() - t0 > uint64_t(kMaxDispatchMicros)) return 1;
        int code;
        if (!eventQueue.try_dequeue(code)) return 1;

        if (code == EventCode::DRAW) {
            walk_down(events, [](Listener* l) { return l->draw(); });
        } else if (code == EventCode::CLOSE) {
            if (!events.empty()) removeListener(events.back());
            return 0;
        } else {
            walk_down(events, [code](Listener* l) { return l->onEvent(code); });
        }

        if (++handled >= kMaxEventsPerCall) {
            LOG_W(kTag, "Max event per loop = %d\n", kMaxEventsPerCall);
            return 1;
        }
    }
}

void EventDispatcher::broadcast(int code)
{
    std::lock_guard<std::recursive_mutex> guard(stackLock);
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if ((*it)->settled.load()) (*it)->onBroadcast(code);
}

bool EventDispatcher::hasFocus(Listener* listener)
{
    std::lock_guard<std::recursive_mutex> guard(stackLock);
    return !events.empty() && events.back() == listener;
}

int EventDispatcher::elements()
{
    std::lock_guard<std::recursive_mutex> guard(stackLock);
    return int(events.size());
}
