#include "com/Com.h"
#include "com/ComInterface.h"
#include "porting/Task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
    std::atomic<int> inits{0};
    std::atomic<int> passes{0};
};

} // namespace

TEST(Com, RegistersOnceInOrderAndInitialisesOnce)
{
    journal.clear();
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
    EXPECT_EQ(journal,
              (std::vector<std::string>{"init a", "init b", "tasks a", "tasks b", "tasks a", "tasks b", "tasks late"}));
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
    Probe probe("thread");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(xTaskCreatePinnedToCore(Com::com_tasks, "comTasks", 4096, nullptr, 0, nullptr, 0), 0);
    const auto deadline = start + std::chrono::seconds(20);
    while (probe.passes.load() < 11 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int passes = probe.passes.load();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_GE(passes, 11);
    // A delay of at least 20 ms follows every pass, however loaded the machine.
    EXPECT_LE(passes, elapsed / std::chrono::milliseconds(20) + 1);
    EXPECT_EQ(probe.inits.load(), 1);
    // The thread runs for ever in the program; here it ends before the probe goes.
    EXPECT_TRUE(task_end_all(10000000));
}
