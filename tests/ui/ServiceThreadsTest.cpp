#include "UiTest.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/Board.h"
#include "base/Bsp.h"
#include "porting/Clock.h"
#include "porting/Task.h"
#include "support/TempRoot.h"
#include "ui/EventDispatcher.h"
#include "ui/Listener.h"
#include "ui/ServiceThreads.h"

namespace {

void clear_stack()
{
    while (!EventDispatcher::events.empty()) EventDispatcher::removeListener(EventDispatcher::events.back());
    int code;
    while (EventDispatcher::eventQueue.try_dequeue(code)) {}
}

std::vector<std::string> journal;

// A screen that draws one label per frame and records its events.
struct Screen : Listener {
    explicit Screen(std::string name) : name(std::move(name)) {}
    bool draw() override
    {
        draws++;
        lv_label_set_text(lv_label_create(lv_screen_active()), name.c_str());
        return true;
    }
    bool onEvent(int code) override
    {
        journal.push_back(name + ":" + std::to_string(code));
        return handle(code);
    }
    virtual bool handle(int) { return true; }
    void onBroadcast(int code) override { broadcasts.push_back(code); }
    std::string name;
    int draws = 0;
    std::vector<int> broadcasts;
};

// A modal screen: code 5 gives its answer and closes it.
struct Modal : Screen {
    Modal(int* answer) : Screen("modal"), answer(answer) {}
    bool handle(int code) override
    {
        if (code == 5) {
            *answer = 42;
            EventDispatcher::addEvent(2);
        }
        return true;
    }
    int* answer;
};

// Opens the modal screen on code 12 and reads its answer once waitModal returns.
struct Opener : Screen {
    Opener() : Screen("opener") {}
    bool handle(int code) override
    {
        if (code != 12) return true;
        int answer = 0;
        new Modal(&answer);
        waitModal();
        journal.push_back("answer " + std::to_string(answer));
        return true;
    }
};

class ServiceThreadsTest : public UiTest {
protected:
    void TearDown() override
    {
        clear_stack();
        journal.clear();
        UiTest::TearDown();
    }
};

TEST_F(ServiceThreadsTest, EverySixthPassRendersRebuildsAndEmptiesTheScreen)
{
    auto* home = new Screen("home");
    std::vector<int> drawsAfterPass;
    std::vector<size_t> widgetsAfterPass;
    for (int pass = 1; pass <= 13; pass++) {
        EXPECT_EQ(system_tasks_loop(), 1);
        drawsAfterPass.push_back(home->draws);
        widgetsAfterPass.push_back(widgets().size());
    }
    // The draw event posted at pass 6 builds the widgets at pass 7; pass 12 renders and clears them.
    EXPECT_EQ(drawsAfterPass, (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 2}));
    EXPECT_EQ(widgetsAfterPass, (std::vector<size_t>{0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 1}));
    check_screen("frame");
}

TEST_F(ServiceThreadsTest, WaitModalReturnsInThePassThatClosesTheModalScreen)
{
    new Screen("home");
    new Opener;
    EventDispatcher::addEvent(12);
    EventDispatcher::addEvent(7);
    EventDispatcher::addEvent(5);
    EventDispatcher::addEvent(9);
    EXPECT_EQ(system_tasks_loop(), 1);
    // Events queued before the modal's close still reach it; the next event goes to the opener.
    EXPECT_EQ(journal, (std::vector<std::string>{"opener:12", "modal:7", "modal:5", "modal:9", "answer 42"}));
    EventDispatcher::addEvent(11);
    EXPECT_EQ(system_tasks_loop(), 1);
    EXPECT_EQ(journal.back(), "opener:11");
    EXPECT_EQ(EventDispatcher::elements(), 2);
}

TEST_F(ServiceThreadsTest, WaitModalKeepsDrawingWhileTheModalScreenIsOpen)
{
    int answer = 0;
    new Screen("home");
    auto* modal = new Modal(&answer);
    // The answer comes 150 ms later, from another producer (as a knob event would).
    uint64_t t0 = esp_timer_get_time();
    std::thread knob([] {
        vTaskDelay(150000);
        EventDispatcher::addEvent(5);
    });
    (void)modal; // deleted by the close
    waitModal();
    uint64_t waited = esp_timer_get_time() - t0;
    knob.join();
    EXPECT_EQ(answer, 42);
    EXPECT_GE(waited, 150000u);
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_TRUE(widgets().size() <= 1u);
}

struct CountingBoard : Bsp {
    void initialize() override { initialized++; }
    void eventLoop() override { loops++; }
    int initialized = 0;
    int loops = 0;
};

TEST_F(ServiceThreadsTest, EventPassRunsTheBoardAndTicksEvery200ms)
{
    CountingBoard board;
    auto* home = new Screen("home");
    EventDispatcher::dispatch(); // a screen gets broadcasts once a dispatch has seen it whole
    int ticks = 0, passes = 0;
    uint64_t t0 = esp_timer_get_time(), third = 0;
    while (ticks < 3 && esp_timer_get_time() - t0 < 20000000) {
        event_tasks_pass();
        passes++;
        int code;
        while (EventDispatcher::eventQueue.try_dequeue(code)) {
            EXPECT_EQ(code, 20);
            ticks++;
        }
        third = esp_timer_get_time();
        vTaskDelay(10000);
    }
    EXPECT_EQ(board.initialized, 0);
    EXPECT_EQ(board.loops, passes);
    ASSERT_EQ(ticks, 3);
    // A tick comes at the first pass more than 200 ms after the previous one (the first pass starts
    // the count), however late the passes run.
    EXPECT_GE(third - t0, 600000u);
    EXPECT_EQ(home->broadcasts, (std::vector<int>{20, 20, 20}));
}

} // namespace
