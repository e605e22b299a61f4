#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "porting/Clock.h"
#include "porting/Task.h"
#include "support/TempRoot.h"
#include "ui/EventDispatcher.h"
#include "ui/Listener.h"

namespace {

// A screen that records what it was asked into a shared log ("name:draw", "name:<code>").
struct Recorder : Listener {
    Recorder(std::string name, std::vector<std::string>* log, bool draws = true, std::vector<int> consumes = {})
        : name(std::move(name)), log(log), draws(draws), consumes(std::move(consumes))
    {}
    ~Recorder() override
    {
        if (deleted) *deleted += 1;
    }
    bool draw() override
    {
        log->push_back(name + ":draw");
        return draws;
    }
    bool onEvent(int code) override
    {
        log->push_back(name + ":" + std::to_string(code));
        for (int c : consumes)
            if (c == code) return true;
        return false;
    }
    std::string name;
    std::vector<std::string>* log;
    bool draws;
    std::vector<int> consumes;
    int* deleted = nullptr;
};

void clear_stack()
{
    while (!EventDispatcher::events.empty()) EventDispatcher::removeListener(EventDispatcher::events.back());
    int code;
    while (EventDispatcher::eventQueue.try_dequeue(code)) {}
}

class EventDispatcherTest : public testing::Test {
protected:
    void TearDown() override { clear_stack(); }
    std::vector<std::string> log;
};

TEST_F(EventDispatcherTest, EventsReachScreensNewestFirstInPostingOrder)
{
    struct Case {
        std::vector<int> posted;
        bool topDraws;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        // The top screen consumes 10: the home screen never sees it. 11 is refused by both.
        {{10, 1, 11}, true, {"top:10", "top:draw", "top:11", "home:11"}},
        // An inactive overlay lets the screen below draw.
        {{1, 10, 1}, false, {"top:draw", "home:draw", "top:10", "top:draw", "home:draw"}},
        // An event nobody consumes is simply dropped.
        {{77}, true, {"top:77", "home:77"}},
    };
    for (const Case& c : cases) {
        log.clear();
        new Recorder("home", &log, true, {});
        new Recorder("top", &log, c.topDraws, {10});
        for (int code : c.posted) EventDispatcher::addEvent(code);
        EXPECT_EQ(EventDispatcher::dispatch(), 1);
        EXPECT_EQ(log, c.expected);
        clear_stack();
    }
}

TEST_F(EventDispatcherTest, OneCallHandlesAtMost129EventsAndWarnsOnce)
{
    new Recorder("home", &log);
    for (int i = 0; i < 200; i++) EventDispatcher::addEvent(100 + i);
    StdoutCapture out;
    // The clock held: on a loaded machine the 10-ms budget would otherwise end a pass first.
    esp_timer_hold_for_tests(esp_timer_get_time());
    EXPECT_EQ(EventDispatcher::dispatch(), 1);
    size_t first = log.size();
    EXPECT_EQ(EventDispatcher::dispatch(), 1);
    esp_timer_hold_for_tests(0);
    std::string printed = out.text();
    EXPECT_EQ(first, 129u) << "refused events count against the budget too";
    EXPECT_EQ(log.size(), 200u);
    EXPECT_EQ(log[129], "home:229") << "the second call goes on where the first stopped";
    EXPECT_EQ(printed, "W (Event): Max event per loop = 129\n");
}

TEST_F(EventDispatcherTest, StopsStartingEventsAfterTenMilliseconds)
{
    struct Slow : Listener {
        bool draw() override { return true; }
        bool onEvent(int) override
        {
            handled++;
            vTaskDelay(4000);
            return true;
        }
        int handled = 0;
    };
    Slow* slow = new Slow;
    for (int i = 0; i < 20; i++) EventDispatcher::addEvent(30);
    EXPECT_EQ(EventDispatcher::dispatch(), 1);
    // Each event takes at least 4 ms: the third one ends past the 10-ms budget.
    EXPECT_GE(slow->handled, 1);
    EXPECT_LE(slow->handled, 3);
    int code;
    EXPECT_TRUE(EventDispatcher::eventQueue.try_dequeue(code)) << "the rest stays queued";
}

TEST_F(EventDispatcherTest, CloseDeletesTheTopScreenAndEndsThePass)
{
    int homeDeleted = 0, topDeleted = 0;
    auto* home = new Recorder("home", &log);
    home->deleted = &homeDeleted;
    auto* top = new Recorder("top", &log);
    top->deleted = &topDeleted;
    EXPECT_EQ(EventDispatcher::elements(), 2);
    EXPECT_TRUE(EventDispatcher::hasFocus(top));
    EXPECT_FALSE(EventDispatcher::hasFocus(home));

    EventDispatcher::addEvent(2);
    EventDispatcher::addEvent(1);
    EXPECT_EQ(EventDispatcher::dispatch(), 0);
    EXPECT_EQ(topDeleted, 1);
    EXPECT_EQ(homeDeleted, 0);
    EXPECT_TRUE(log.empty()) << "the draw after CLOSE waits for the next call";
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_TRUE(EventDispatcher::hasFocus(home));

    EXPECT_EQ(EventDispatcher::dispatch(), 1);
    EXPECT_EQ(log, std::vector<std::string>{"home:draw"});

    // CLOSE on the last screen and on an empty stack.
    EventDispatcher::addEvent(2);
    EXPECT_EQ(EventDispatcher::dispatch(), 0);
    EXPECT_EQ(homeDeleted, 1);
    EventDispatcher::addEvent(2);
    EXPECT_EQ(EventDispatcher::dispatch(), 0);
    EXPECT_EQ(EventDispatcher::elements(), 0);
    EXPECT_FALSE(EventDispatcher::hasFocus(nullptr));
}

TEST_F(EventDispatcherTest, RegistrationAndRemovalRules)
{
    int deleted = 0;
    auto* a = new Recorder("a", &log);
    EventDispatcher::addListener(a);
    EventDispatcher::addListener(nullptr);
    EXPECT_EQ(EventDispatcher::elements(), 1) << "a screen is on the stack once";

    EventDispatcher::removeListener(nullptr);
    EXPECT_EQ(EventDispatcher::elements(), 1);

    // A listener that is not on the stack is still deleted.
    auto* b = new Recorder("b", &log);
    b->deleted = &deleted;
    EventDispatcher::events.remove(b);
    EventDispatcher::removeListener(b);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_TRUE(EventDispatcher::hasFocus(a));
}

// A screen that opens a modal screen and waits for it inside its own onEvent, as the screens do.
struct Modal : Recorder {
    using Recorder::Recorder;
    bool onEvent(int code) override
    {
        Recorder::onEvent(code);
        if (code == 42) EventDispatcher::addEvent(2);
        return true;
    }
};

struct Opener : Recorder {
    using Recorder::Recorder;
    bool onEvent(int code) override
    {
        Recorder::onEvent(code);
        if (code != 12) return false;
        new Modal("modal", log);
        EventDispatcher::addEvent(42);
        while (EventDispatcher::dispatch() != 0) {}
        return false; // the event goes on to the screen below the opener
    }
};

TEST_F(EventDispatcherTest, NestedDispatchClosingAModalKeepsTheOuterWalkIntact)
{
    new Recorder("home", &log);
    new Opener("opener", &log);
    EventDispatcher::addEvent(12);
    EXPECT_EQ(EventDispatcher::dispatch(), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"opener:12", "modal:42", "home:12"}));
    EXPECT_EQ(EventDispatcher::elements(), 2);
    log.clear();
    EventDispatcher::addEvent(13);
    EXPECT_EQ(EventDispatcher::dispatch(), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"opener:13", "home:13"}));
}

TEST_F(EventDispatcherTest, CodesOfEachProducerKeepTheirOrder)
{
    struct Sink : Listener {
        bool draw() override { return true; }
        bool onEvent(int code) override
        {
            codes.push_back(code);
            return true;
        }
        std::vector<int> codes;
    };
    Sink* sink = new Sink;
    constexpr int kPerThread = 3000;
    std::thread a([] {
        for (int i = 0; i < kPerThread; i++) EventDispatcher::addEvent(100000 + i);
    });
    std::thread b([] {
        for (int i = 0; i < kPerThread; i++) EventDispatcher::addEvent(200000 + i);
    });
    a.join();
    b.join();
    StdoutCapture quiet;
    for (int i = 0; i < 100 && sink->codes.size() < 2 * kPerThread; i++) EventDispatcher::dispatch();
    quiet.text();
    ASSERT_EQ(sink->codes.size(), size_t(2 * kPerThread));
    int nextA = 100000, nextB = 200000;
    for (int c : sink->codes) {
        if (c < 200000) EXPECT_EQ(c, nextA++);
        else EXPECT_EQ(c, nextB++);
    }
}

TEST_F(EventDispatcherTest, BroadcastFromAnotherThreadWhileScreensOpenAndClose)
{
    struct Counter : Listener {
        bool draw() override { return true; }
        bool onEvent(int) override { return false; }
        void onBroadcast(int code) override { sum += code; }
        std::atomic<int> sum{0};
    };
    auto* home = new Counter;
    EventDispatcher::dispatch(); // settles the home screen: every broadcast from here on reaches it
    std::atomic<bool> stop{false};
    std::atomic<int> broadcasts{0};
    std::thread ticker([&] {
        while (!stop) {
            EventDispatcher::broadcast(20);
            broadcasts++;
        }
    });
    // Screens come and go until the other thread has walked the stack often enough.
    uint64_t t0 = esp_timer_get_time();
    for (int i = 0; i < 20000 || (broadcasts < 1000 && esp_timer_get_time() - t0 < 10000000); i++) {
        new Counter;
        EventDispatcher::addEvent(2);
        // A call that finds its 10 ms spent (the thread was descheduled) leaves the close queued.
        int calls = 1;
        while (EventDispatcher::dispatch() != 0 && calls < 1000) ++calls;
        ASSERT_LT(calls, 1000);
    }
    stop = true;
    ticker.join();
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_GT(home->sum.load(), 0);
    EXPECT_EQ(home->sum.load() % 20, 0);
}

} // namespace
