#include "porting/Task.h"

#include "platform/Scheduling.h"
#include "porting/Log.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <linux/futex.h>
#include <mutex>
#include <sched.h>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// Set by every thread creation, which may run on several threads at once.
std::atomic<uint8_t> managment_initialized{0};

namespace {

long futex(std::atomic<uint32_t>* word, int op, uint32_t value)
{
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the futex word is a plain 32-bit word");
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, nullptr, nullptr, 0);
}

// The pause: a suspended word per thread. vTaskSuspend sets it; the thread, at its next pause point,
// waits on it (a futex) until vTaskResume clears it and wakes it. The last call wins, so a resume
// that overtakes its suspend leaves the thread running. The table is fixed and lock-free so that the
// audio thread may resume.
constexpr int kSuspendSlots = 128;
struct SuspendSlot {
    std::atomic<pthread_t> thread{};
    std::atomic<bool> used{false};
    std::atomic<uint32_t> suspended{0};
};
SuspendSlot suspendSlots[kSuspendSlots];

SuspendSlot* findSlot(pthread_t thread)
{
    for (auto& slot : suspendSlots)
        if (slot.used.load(std::memory_order_acquire) && pthread_equal(slot.thread.load(), thread)) return &slot;
    return nullptr;
}

SuspendSlot* claimSlot()
{
    for (auto& slot : suspendSlots) {
        bool expected = false;
        if (!slot.used.load() && slot.used.compare_exchange_strong(expected, true)) return &slot;
    }
    return nullptr;
}

// Threads created elsewhere get their slot when first suspended.
SuspendSlot* slotFor(pthread_t thread)
{
    if (SuspendSlot* slot = findSlot(thread)) return slot;
    SuspendSlot* slot = claimSlot();
    if (slot) slot->thread.store(thread);
    return slot;
}

void releaseSlot(SuspendSlot* slot)
{
    slot->suspended.store(0);
    slot->thread.store(pthread_t{});
    slot->used.store(false, std::memory_order_release);
}

void wake(SuspendSlot* slot)
{
    slot->suspended.store(0, std::memory_order_release);
    futex(&slot->suspended, FUTEX_WAKE_PRIVATE, INT32_MAX);
}

// Only interrupts a sleep (task_end_all): nothing is ever done inside a signal handler.
void task_wake_handler(int) {}

// Every thread created here, so that a test program can end them all between two tests.
std::atomic<uint32_t> taskGeneration{0};
std::atomic<int> liveTasks{0};
std::mutex& liveMutex = *new std::mutex;
std::set<pthread_t>& liveThreads = *new std::set<pthread_t>;
thread_local bool isTask = false;
thread_local uint32_t threadGeneration = 0;
// A task's own slot, claimed by its creator.
thread_local SuspendSlot* ownSlot = nullptr;

struct TaskStart {
    TaskFunction_t function;
    void* argument;
    uint32_t generation;
    SuspendSlot* slot;
};

// Runs the thread's function; the counts are kept also when the thread leaves by pthread_exit.
void* taskStart(void* data)
{
    TaskStart start = *static_cast<TaskStart*>(data);
    delete static_cast<TaskStart*>(data);
    isTask = true;
    threadGeneration = start.generation;
    ownSlot = start.slot;
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        liveThreads.insert(pthread_self());
    }
    struct Leave {
        ~Leave()
        {
            if (ownSlot) {
                // The creator names the slot after pthread_create returns: a thread that ends at once
                // gives it back only after that, so that no later owner's name is overwritten.
                while (!pthread_equal(ownSlot->thread.load(), pthread_self())) sched_yield();
                releaseSlot(ownSlot);
            }
            std::lock_guard<std::mutex> lock(liveMutex);
            liveThreads.erase(pthread_self());
            liveTasks.fetch_sub(1, std::memory_order_acq_rel);
        }
    } leave;
    return start.function(start.argument);
}

// The calling thread's slot: its own for a task, else one made by a vTaskSuspend of it.
SuspendSlot* callerSlot()
{
    return ownSlot ? ownSlot : findSlot(pthread_self());
}

} // namespace

int task_core_to_cpu(unsigned core)
{
    switch (core) {
    case 1: return 3;
    case 2: return 2;
    case 3: return 1;
    default: return 0;
    }
}

void init_task_management()
{
    struct sigaction wakeUp {};
    wakeUp.sa_handler = task_wake_handler;
    sigemptyset(&wakeUp.sa_mask);
    sigaction(SIGUSR2, &wakeUp, nullptr);
    managment_initialized = 1;
}

namespace {

int onlineCpus()
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? int(n) : 1;
}

// The CPU to pin to: the unit's CPU for the core, or, where this machine lacks it or the process may
// not run there, that CPU modulo the number of CPUs, then the first allowed one.
int chooseCpu(unsigned core, const char* name)
{
    int cpu = task_core_to_cpu(core);
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    bool known = sched_getaffinity(0, sizeof allowed, &allowed) == 0;
    if (cpu < onlineCpus() && (!known || CPU_ISSET(cpu, &allowed))) return cpu;
    int fallback = cpu % onlineCpus();
    if (known && !CPU_ISSET(fallback, &allowed)) {
        for (int i = 0; i < CPU_SETSIZE; ++i)
            if (CPU_ISSET(i, &allowed)) {
                fallback = i;
                break;
            }
    }
    LOG_W("Thread", "%s: CPU %d is not available here, using CPU %d\n", name, cpu, fallback);
    return fallback;
}

} // namespace

namespace {

// The unit's calls: one pinned CPU, SCHED_FIFO above priority 20, nice -priority from 1 to 20.
int createWithUnitPriorities(pthread_t* thread, void* (*function)(void*), void* argument, const char* name,
                             int priority, unsigned core)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(chooseCpu(core, name), &cpus);
    int rc = pthread_attr_setaffinity_np(&attr, sizeof cpus, &cpus);
    if (rc != 0) {
        errno = rc;
        std::perror("pthread_attr_setaffinity_np");
        pthread_attr_destroy(&attr);
        return rc;
    }
    rc = pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    if (rc != 0) {
        LOG_E("Thread", "%s pthread_attr_setschedpolicy error\n", name);
        errno = rc;
        std::perror("pthread_attr_setschedpolicy");
        pthread_attr_destroy(&attr);
        return rc;
    }

    bool restoreNice = false;
    int savedNice = 0;
    pid_t self = pid_t(syscall(SYS_gettid));
    if (priority > 20) {
        sched_param param{};
        param.sched_priority = priority;
        rc = pthread_attr_setschedparam(&attr, &param);
        if (rc != 0) {
            LOG_E("Thread", "%s pthread_attr_setschedparam error\n", name);
            pthread_attr_destroy(&attr);
            return rc;
        }
        rc = pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
        if (rc != 0) {
            LOG_E("Thread", "%s pthread_attr_setinheritsched error\n", name);
            pthread_attr_destroy(&attr);
            return rc;
        }
        rc = pthread_create(thread, &attr, function, argument);
        if (rc == EPERM) {
            // No real-time rights on this machine (never on the unit): run it at normal priority.
            LOG_W("Thread", "%s: SCHED_FIFO %d refused, using normal scheduling\n", name, priority);
            pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
            rc = pthread_create(thread, &attr, function, argument);
        }
    } else if (priority >= 1) {
        errno = 0;
        savedNice = getpriority(PRIO_PROCESS, id_t(self));
        if (setpriority(PRIO_PROCESS, id_t(self), -priority) != 0)
            LOG_W("Thread", "%s: nice %d refused\n", name, -priority);
        restoreNice = true;
        rc = pthread_create(thread, &attr, function, argument);
    } else {
        rc = pthread_create(thread, &attr, function, argument);
    }
    if (restoreNice) setpriority(PRIO_PROCESS, id_t(self), savedNice);
    pthread_attr_destroy(&attr);
    return rc;
}

} // namespace

int xTaskCreatePinnedToCore(TaskFunction_t function, const char* name, uint32_t, void* argument, int priority,
                            TaskHandle_t* handle, unsigned core)
{
    init_task_management();

    // Its suspend slot exists before anyone can stop or wake it.
    SuspendSlot* slot = claimSlot();
    auto* start = new TaskStart{function, argument, taskGeneration.load(std::memory_order_acquire), slot};
    liveTasks.fetch_add(1, std::memory_order_acq_rel);
    pthread_t thread;
    int rc = Scheduling::unitRealtime() ? createWithUnitPriorities(&thread, taskStart, start, name, priority, core)
                                        : pthread_create(&thread, nullptr, taskStart, start);
    if (rc != 0) {
        liveTasks.fetch_sub(1, std::memory_order_acq_rel);
        delete start;
        if (slot) releaseSlot(slot);
        LOG_E("Thread", "%s pthread_create error %d\n", name, rc);
        return rc;
    }
    if (slot) slot->thread.store(thread, std::memory_order_release);
    pthread_setname_np(thread, name); // names over 15 characters are refused; the thread keeps running
    LOG_I("Thread", "%s create success\n", name);
    pthread_detach(thread);
    if (handle) *handle = thread;
    return 0;
}

int vTaskSuspend(TaskHandle_t handle)
{
    SuspendSlot* slot = slotFor(handle);
    if (!slot) return EAGAIN;
    slot->suspended.store(1, std::memory_order_release);
    return 0;
}

int vTaskResume(TaskHandle_t handle)
{
    // A thread never suspended has nothing to be woken from.
    if (SuspendSlot* slot = findSlot(handle)) wake(slot);
    return 0;
}

TaskHandle_t xTaskGetCurrentTaskHandle()
{
    return pthread_self();
}

void vTaskDelay(uint32_t microseconds)
{
    usleep(microseconds);
    task_exit_point();
}

void task_exit_point()
{
    if (SuspendSlot* slot = callerSlot()) {
        // A wake-up with the word still set (another waiter's, or a signal) waits again.
        while (slot->suspended.load(std::memory_order_acquire) != 0) futex(&slot->suspended, FUTEX_WAIT_PRIVATE, 1);
    }
    if (isTask && threadGeneration != taskGeneration.load(std::memory_order_acquire)) pthread_exit(nullptr);
}

bool task_end_all(uint32_t timeoutUs)
{
    taskGeneration.fetch_add(1, std::memory_order_acq_rel);
    for (uint32_t waited = 0;; waited += 1000) {
        if (liveTasks.load(std::memory_order_acquire) == 0) return true;
        if (waited >= timeoutUs) return false;
        {
            // Wakes each from its delay or pause, so that it reaches its exit point now.
            std::lock_guard<std::mutex> lock(liveMutex);
            for (pthread_t thread : liveThreads) {
                if (SuspendSlot* slot = findSlot(thread)) wake(slot);
                pthread_kill(thread, SIGUSR2);
            }
        }
        usleep(1000);
    }
}
