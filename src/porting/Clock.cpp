#include "porting/Clock.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<uint64_t> heldAt{0};
}

void esp_timer_hold_for_tests(uint64_t microseconds)
{
    heldAt.store(microseconds, std::memory_order_relaxed);
}

uint64_t esp_timer_get_time()
{
    if (const uint64_t held = heldAt.load(std::memory_order_relaxed)) return held;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
}

uint64_t xthal_get_ccount()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}
