#include "porting/Task.h"

#include "support/TempRoot.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

struct Observed {
    std::atomic<bool> go{false}; // set once creation returned: the name is given after the thread starts
    std::atomic<bool> done{false};
    int policy = -1;
    int priority = -1;
    int nice = 99;
    int cpu = -1;
    int cpuCount = 0;
    char name[16] = {};
};

void* observe(void* arg)
{
    auto* o = static_cast<Observed*>(arg);
    while (!o->go) sched_yield();
    sched_param param{};
    pthread_getschedparam(pthread_self(), &o->policy, &param);
    o->priority = param.sched_priority;
    o->nice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
    cpu_set_t set;
    CPU_ZERO(&set);
    pthread_getaffinity_np(pthread_self(), sizeof set, &set);
    o->cpuCount = CPU_COUNT(&set);
    for (int i = 0; i < CPU_SETSIZE; ++i)
        if (CPU_ISSET(i, &set)) o->cpu = i;
    pthread_getname_np(pthread_self(), o->name, sizeof o->name);
    o->done = true;
    return nullptr;
}

void waitFor(const std::atomic<bool>& flag)
{
    for (int i = 0; i < 5000 && !flag; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(flag.load());
}

// The CPUs this process may run on (a CI job or `taskset` may allow only some).
cpu_set_t allowedCpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    return set;
}

bool realtimeAllowed()
{
    sched_param param{};
    param.sched_priority = 1;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    pthread_attr_setschedparam(&attr, &param);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_t t;
    int rc = pthread_create(
        &t, &attr, [](void*) -> void* { return nullptr; }, nullptr);
    pthread_attr_destroy(&attr);
    if (rc == 0) pthread_join(t, nullptr);
    return rc == 0;
}

// KESTRUN_REALTIME=1 for the life of the object: the unit's priorities and CPUs on this host.
struct UnitPriorities {
    UnitPriorities() { setenv("KESTRUN_REALTIME", "1", 1); }
    ~UnitPriorities() { unsetenv("KESTRUN_REALTIME"); }
};

void runProbe(Observed& o, int priority, unsigned core)
{
    ASSERT_EQ(xTaskCreatePinnedToCore(observe, "probe", 4096, &o, priority, nullptr, core), 0);
    o.go = true;
    waitFor(o.done);
}

} // namespace

// By default the host asks for nothing: every thread runs like its creator, on any allowed CPU.
TEST(Task, HostThreadsKeepTheCallersSchedulingAndCpus)
{
    int callerNice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    for (int priority : {59, 21, 3, 0}) {
        Observed o;
        runProbe(o, priority, 1);
        EXPECT_EQ(o.policy, SCHED_OTHER) << priority;
        EXPECT_EQ(o.nice, callerNice) << priority;
        EXPECT_EQ(o.cpuCount, CPU_COUNT(&allowed)) << priority;
    }
}

TEST(Task, PriorityMapsToNiceOrFifoAsSeenFromInsideTheThread)
{
    UnitPriorities unit;
    int callerNice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
    struct Case {
        int priority;
        int policy;
        int schedPriority;
        int nice;
    };
    const bool rt = realtimeAllowed();
    const Case cases[] = {
        {20, SCHED_OTHER, 0, -20},
        {3, SCHED_OTHER, 0, -3},
        {0, SCHED_OTHER, 0, callerNice},
        {-4, SCHED_OTHER, 0, callerNice},
        {21, rt ? SCHED_FIFO : SCHED_OTHER, rt ? 21 : 0, callerNice},
        {59, rt ? SCHED_FIFO : SCHED_OTHER, rt ? 59 : 0, callerNice},
    };
    for (const Case& c : cases) {
        Observed o;
        runProbe(o, c.priority, 0);
        EXPECT_EQ(o.policy, c.policy) << "priority " << c.priority;
        EXPECT_EQ(o.priority, c.schedPriority) << "priority " << c.priority;
        EXPECT_EQ(o.nice, c.nice) << "priority " << c.priority;
        EXPECT_STREQ(o.name, "probe");
    }
    EXPECT_EQ(getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid))), callerNice)
        << "the caller's nice value is restored";
}

TEST(Task, CoreMapsToOneCpuOrItsFallback)
{
    UnitPriorities unit;
    const std::pair<unsigned, int> cases[] = {{1, 3}, {2, 2}, {3, 1}, {0, 0}, {4, 0}, {100, 0}, {unsigned(-1), 0}};
    for (auto [core, unitCpu] : cases) {
        EXPECT_EQ(task_core_to_cpu(core), unitCpu);
        Observed o;
        ASSERT_EQ(xTaskCreatePinnedToCore(observe, "pin", 0, &o, 0, nullptr, core), 0) << "a null handle is accepted";
        o.go = true;
        waitFor(o.done);
        EXPECT_EQ(o.cpuCount, 1) << "core " << core;
        // The unit's CPU where this process may use it, else one it may use.
        cpu_set_t allowed = allowedCpus();
        if (CPU_ISSET(unitCpu, &allowed)) EXPECT_EQ(o.cpu, unitCpu) << "core " << core;
        else EXPECT_TRUE(o.cpu >= 0 && CPU_ISSET(o.cpu, &allowed)) << "core " << core << " cpu " << o.cpu;
    }
}

TEST(Task, LongNamesAreRefusedByTheKernelButTheThreadRuns)
{
    Observed o;
    StdoutCapture capture;
    ASSERT_EQ(xTaskCreatePinnedToCore(observe, "wifiConnectionsHandler", 4096, &o, 0, nullptr, 0), 0);
    o.go = true;
    waitFor(o.done);
    EXPECT_NE(capture.text().find("I (Thread): wifiConnectionsHandler create success\n"), std::string::npos);
}

namespace {

// A thread that spends nearly all its time holding a lock, as one inside the allocator does, with a
// pause point between its rounds.
struct LockHolder {
    std::mutex lock;
    std::atomic<uint64_t> rounds{0};
    std::atomic<bool> stop{false};

    static void* run(void* argument)
    {
        auto* self = static_cast<LockHolder*>(argument);
        while (!self->stop) {
            {
                std::lock_guard<std::mutex> hold(self->lock);
                const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
                while (std::chrono::steady_clock::now() < until) {}
            }
            self->rounds.fetch_add(1);
            task_exit_point();
        }
        return nullptr;
    }

    // Polled rather than a timed lock, which the thread sanitizer does not follow.
    bool lockWithin(int ms)
    {
        for (int i = 0; i < ms; ++i) {
            if (lock.try_lock()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    bool advancesWithin(int ms)
    {
        const uint64_t before = rounds.load();
        for (int i = 0; i < ms && rounds.load() == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return rounds.load() != before;
    }
};

} // namespace

TEST(Task, SuspendedThreadStopsOnlyWhereItHoldsNothingAndResumeContinuesIt)
{
    LockHolder holder;
    TaskHandle_t handle{};
    ASSERT_EQ(xTaskCreatePinnedToCore(LockHolder::run, "holder", 0, &holder, 0, &handle, 0), 0);
    ASSERT_TRUE(holder.advancesWithin(5000));

    for (int round = 0; round < 10; ++round) {
        vTaskSuspend(handle);
        // A thread stopped inside its round would keep the lock for good; a late one gives it back.
        ASSERT_TRUE(holder.lockWithin(5000)) << "stopped holding its lock, round " << round;
        holder.lock.unlock();
        holder.advancesWithin(50); // the round it was in when asked
        EXPECT_FALSE(holder.advancesWithin(50)) << "a suspended thread runs no further round";
        vTaskResume(handle);
        ASSERT_TRUE(holder.advancesWithin(5000)) << "round " << round;
    }

    // Rapid pairs, as the UI and audio threads issue them: the resume may come before the thread
    // reaches its pause point. It must never stay stopped.
    for (int i = 0; i < 1000; ++i) {
        vTaskSuspend(handle);
        vTaskResume(handle);
    }
    EXPECT_TRUE(holder.advancesWithin(5000));
    holder.stop = true;
    EXPECT_TRUE(task_end_all(5000000));
}

// Between two tests of one process every thread ends, also one that is suspended or sleeping long.
TEST(Task, EndAllEndsSleepingAndSuspendedThreadsAndLetsNewOnesRun)
{
    std::atomic<int> alive{0};
    auto sleeper = [](void* count) -> void* {
        struct Alive {
            std::atomic<int>& n;
            ~Alive() { --n; }
        } alive{*static_cast<std::atomic<int>*>(count)};
        ++alive.n;
        for (;;) vTaskDelay(2000000);
    };
    TaskHandle_t suspended{};
    ASSERT_EQ(xTaskCreatePinnedToCore(sleeper, "sleeper", 0, &alive, 0, nullptr, 0), 0);
    ASSERT_EQ(xTaskCreatePinnedToCore(sleeper, "suspended", 0, &alive, 0, &suspended, 0), 0);
    for (int i = 0; i < 5000 && alive < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    vTaskSuspend(suspended);

    auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(task_end_all(10000000));
    EXPECT_EQ(alive.load(), 0) << "their destructors ran";
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1)) << "woken, not waited for";

    Observed o;
    runProbe(o, 0, 0);
    EXPECT_TRUE(o.done.load()) << "threads created afterwards run normally";
}
