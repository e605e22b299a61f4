#include "porting/Task.h"

#include "platform/Scheduling.h"
#include "porting/Log.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <sched.h>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// Set by every thread creation, which may run on several threads at once.
std::atomic<uint8_t> managment_initialized{0};

namespace {

// The suspend handshake: a suspended flag per thread. vTaskSuspend sets it and then signals;
// the handler waits while it is set; vTaskResume clears it and then signals. A resume that
// overtakes its suspend therefore never leaves the thread waiting for a signal that already came.
// The table is fixed and lock-free so that the signal handler may use it.
constexpr int kSuspendSlots = 128;
struct SuspendSlot {
    std::atomic<pthread_t> thread{};
    std::atomic<bool> used{false};
    std::atomic<bool> suspended{false};
};
SuspendSlot suspendSlots[kSuspendSlots];

SuspendSlot* findSlot(pthread_t thread)
{
    for (auto& slot : suspendSlots)
        if (slot.used.load(std::memory_order_acquire) && pthread_equal(slot.thread.load(), thread)) return &slot;
    return nullptr;
}

SuspendSlot* slotFor(pthread_t thread)
{
    if (SuspendSlot* slot = findSlot(thread)) return slot;
    for (auto& slot : suspendSlots) {
        bool expected = false;
        if (slot.used.load() || !slot.used.compare_exchange_strong(expected, true)) continue;
        slot.thread.store(thread);
        return &slot;
    }
    return nullptr;
}

void task_suspend_handler(int)
{
    int savedErrno = errno;
    SuspendSlot* slot = findSlot(pthread_self());
    sigset_t mask;
    sigfillset(&mask);
    sigdelset(&mask, SIGUSR2);
    // SIGUSR2 is blocked while this handler runs, so a resume arriving between the test and
    // sigsuspend stays pending and ends the wait.
    if (!slot) {
        sigsuspend(&mask);
    } else {
        while (slot->suspended.load(std::memory_order_acquire)) sigsuspend(&mask);
    }
    errno = savedErrno;
}

void task_resume_handler(int) {}

// Every thread created here, so that a test program can end them all between two tests.
std::atomic<uint32_t> taskGeneration{0};
std::atomic<int> liveTasks{0};
std::mutex& liveMutex = *new std::mutex;
std::set<pthread_t>& liveThreads = *new std::set<pthread_t>;
thread_local bool isTask = false;
thread_local uint32_t threadGeneration = 0;

struct TaskStart {
    TaskFunction_t function;
    void* argument;
    uint32_t generation;
};

// Runs the thread's function; the counts are kept also when the thread leaves by pthread_exit.
void* taskStart(void* data)
{
    TaskStart start = *static_cast<TaskStart*>(data);
    delete static_cast<TaskStart*>(data);
    isTask = true;
    threadGeneration = start.generation;
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        liveThreads.insert(pthread_self());
    }
    struct Leave {
        ~Leave()
        {
            if (SuspendSlot* slot = findSlot(pthread_self())) {
                slot->suspended.store(false);
                slot->thread.store(pthread_t{});
                slot->used.store(false, std::memory_order_release);
            }
            std::lock_guard<std::mutex> lock(liveMutex);
            liveThreads.erase(pthread_self());
            liveTasks.fetch_sub(1, std::memory_order_acq_rel);
        }
    } leave;
    return start.function(start.argument);
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
    struct sigaction suspend {};
    suspend.sa_handler = task_suspend_handler;
    sigemptyset(&suspend.sa_mask);
    sigaddset(&suspend.sa_mask, SIGUSR2);
    sigaction(SIGUSR1, &suspend, nullptr);

    struct sigaction resume {};
    resume.sa_handler = task_resume_handler;
    sigemptyset(&resume.sa_mask);
    sigaction(SIGUSR2, &resume, nullptr);
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
            if (CPU_ISSET(i, &allowed)) { fallback = i; break; }
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

    auto* start = new TaskStart{function, argument, taskGeneration.load(std::memory_order_acquire)};
    liveTasks.fetch_add(1, std::memory_order_acq_rel);
    pthread_t thread;
    int rc = Scheduling::unitRealtime() ? createWithUnitPriorities(&thread, taskStart, start, name, priority, core)
                                          : pthread_create(&thread, nullptr, taskStart, start);
    if (rc != 0) {
        liveTasks.fetch_sub(1, std::memory_order_acq_rel);
        delete start;
        LOG_E("Thread", "%s pthread_create error %d\n", name, rc);
        return rc;
    }
    pthread_setname_np(thread, name); // names over 15 characters are refused; the thread keeps running
    LOG_I("Thread", "%s create success\n", name);
    pthread_detach(thread);
    // Its suspend slot exists before anyone can stop or wake it: two first calls made at once from
    // two threads could otherwise each take a slot of their own, and the thread would wait on one
    // while the other is cleared.
    slotFor(thread);
    if (handle) *handle = thread;
    return 0;
}

int vTaskSuspend(TaskHandle_t handle)
{
    if (SuspendSlot* slot = slotFor(handle)) slot->suspended.store(true, std::memory_order_release);
    return pthread_kill(handle, SIGUSR1);
}

int vTaskResume(TaskHandle_t handle)
{
    if (SuspendSlot* slot = slotFor(handle)) slot->suspended.store(false, std::memory_order_release);
    return pthread_kill(handle, SIGUSR2);
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
    if (isTask && threadGeneration != taskGeneration.load(std::memory_order_acquire)) pthread_exit(nullptr);
}

bool task_end_all(uint32_t timeoutUs)
{
    taskGeneration.fetch_add(1, std::memory_order_acq_rel);
    for (uint32_t waited = 0;; waited += 1000) {
        if (liveTasks.load(std::memory_order_acquire) == 0) return true;
        if (waited >= timeoutUs) return false;
        {
            // Wakes each from its delay or suspension, so that it reaches its exit point now.
            std::lock_guard<std::mutex> lock(liveMutex);
            for (pthread_t thread : liveThreads) {
                if (SuspendSlot* slot = findSlot(thread)) slot->suspended.store(false, std::memory_order_release);
                pthread_kill(thread, SIGUSR2);
            }
        }
        usleep(1000);
    }
}
