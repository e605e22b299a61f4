// Preloaded into the program by the stress test: every allocation holds one lock for a while, as
// the allocator's lock is held far longer on a loaded unit, and the host codec's frame clock waits
// for that lock once per frame, as a host audio output that allocates, or one log line from the audio
// thread, would. A thread stopped while it holds the lock then stops every thread that allocates and,
// through the frame clock, the audio thread, which alone could end the fade that stopped it.
//
// A thread that went to sleep (a voluntary switch: a stop, a wait) while it held the lock for longer
// than kSleptNs is reported on standard error: "W (SlowAllocator): NAME slept N ms holding the
// allocator's lock". One merely preempted on a busy machine is not.
//
// KESTRUN_ALLOC_HOLD_US sets the hold (default 10 microseconds); freeing takes the lock without
// holding it longer.
#define _GNU_SOURCE
#include <errno.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void __libc_free(void* pointer);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* pointer, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static long holdNs = 10000;
static const long long kSleptNs = 10000000;
// The holder's entry time and voluntary switches so far (written by the holder only).
static long long enteredNs;
static long enteredSwitches;

__attribute__((constructor)) static void readHold(void)
{
    const char* text = getenv("KESTRUN_ALLOC_HOLD_US");
    if (text && *text) holdNs = strtol(text, NULL, 10) * 1000;
}

static long long nowNs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static long voluntarySwitches(void)
{
    struct rusage usage;
    return getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nvcsw : 0;
}

static void enter(int hold)
{
    pthread_mutex_lock(&lock);
    enteredNs = nowNs();
    enteredSwitches = voluntarySwitches();
    if (!hold) return;
    const long long until = enteredNs + holdNs;
    while (nowNs() < until) {}
}

static void leave(void)
{
    const long long heldNs = nowNs() - enteredNs;
    const int slept = heldNs > kSleptNs && voluntarySwitches() != enteredSwitches;
    pthread_mutex_unlock(&lock);
    if (!slept) return;
    // Without the allocator: it is this line's subject.
    char name[16] = "?";
    pthread_getname_np(pthread_self(), name, sizeof name);
    char line[128];
    const int n = snprintf(line, sizeof line, "W (SlowAllocator): %s slept %lld ms holding the allocator's lock\n",
                           name, heldNs / 1000000);
    if (n > 0) (void)!write(STDERR_FILENO, line, (size_t)n);
}

void* malloc(size_t size)
{
    enter(1);
    void* p = __libc_malloc(size);
    leave();
    return p;
}

void free(void* pointer)
{
    if (!pointer) return;
    enter(0);
    __libc_free(pointer);
    leave();
}

void* calloc(size_t count, size_t size)
{
    enter(1);
    void* p = __libc_calloc(count, size);
    leave();
    return p;
}

void* realloc(void* pointer, size_t size)
{
    enter(1);
    void* p = __libc_realloc(pointer, size);
    leave();
    return p;
}

void* memalign(size_t alignment, size_t size)
{
    enter(1);
    void* p = __libc_memalign(alignment, size);
    leave();
    return p;
}

void* aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

// The host codec's frame clock is the program's only caller.
int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request, struct timespec* remain)
{
    enter(0);
    leave();
    return syscall(SYS_clock_nanosleep, clock, flags, request, remain) == 0 ? 0 : errno;
}
