#include "com/Com.h"
#include "com/ComInterface.h"
#include "porting/Task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> journal;

class Probe : public ComInterface {
public:
    explicit Probe(const char* tag) : ComInterface(nullptr), tag(tag) {}
    void initialize() override
    {
        journal.push_back(std::string("init ") + tag);
        ++inits;
    }
    void tasks() override
    {
        journal.push_back(std::string("tasks ") + tag);
        ++passes;
    }
    const char* tag;
    std::atomic<int> inits {0};
    std::atomic<int> passes {0};
};

} // namespace

TEST(Com, RegistersOnceInOrderAndInitialisesOnce)
{
    Probe a("a"), b("b");
    Com::addIface(&a);
    Com::addIface(nullptr);
    ASSERT_EQ(Com::ifaces.size(), 2u);
    EXPECT_EQ(Com::ifaces[0], &a);
    EXPECT_EQ(Com::ifaces[1], &b);

    EXPECT_TRUE(Com::initialize());
    EXPECT_TRUE(Com::initialize());
    Com::tasksOnce();
    // Registered after start-up: polled, never initialised.
    Probe late("late");
    Com::tasksOnce();
    EXPECT_EQ(journal, (std::vector<std::string> {"init a", "init b", "tasks a", "tasks b", "tasks a", "tasks b",
                                                  "tasks late"}));
    EXPECT_EQ(late.inits, 0);
}

TEST(Com, DestroyedTransportLeavesTheRegistry)
{
    {
        Probe gone("gone");
        EXPECT_EQ(Com::ifaces.size(), 1u);
    }
    EXPECT_TRUE(Com::ifaces.empty());
}

TEST(Com, ThreadPollsEveryTwentyMilliseconds)
{
    // Lives to the end of the process, as the thread never stops.
    static Probe probe("thread");
    xTaskCreatePinnedToCore(Com::com_tasks, "comTasks", 4096, nullptr, 0, nullptr, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(probe.inits.load(), 1);
    // About 25 passes in 500 ms; generous bounds for a loaded machine.
    EXPECT_GE(probe.passes.load(), 10);
    EXPECT_LE(probe.passes.load(), 26);
    // The process ends with the thread running; nothing may be torn down under it.
    std::fflush(stdout);
    std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
}
