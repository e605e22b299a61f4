#include "porting/Clock.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {
std::atomic<uint64_t> heldAt{0};
std::atomic<int64_t> steppedBy{0};
std::atomic<int64_t> lastStamp{0};

// The steps that $KESTRUN_CLOCK_STEPS schedules, read once.
struct ScheduledSteps {
    int64_t origin = monotonic_time_us();
    // (microseconds after origin, step in microseconds), in the order given.
    std::vector<std::pair<int64_t, int64_t>> steps;

    ScheduledSteps()
    {
        const char* text = std::getenv("KESTRUN_CLOCK_STEPS");
        while (text && *text) {
            char* end = nullptr;
            long long afterMs = std::strtoll(text, &end, 10);
            if (end == text || *end != ':') break;
            const char* secondsText = end + 1;
            double seconds = std::strtod(secondsText, &end);
            if (end == secondsText) break;
            steps.emplace_back(afterMs * 1000, int64_t(seconds * 1e6));
            text = *end == ',' ? end + 1 : end;
        }
    }

    int64_t offsetNow() const
    {
        if (steps.empty()) return 0;
        int64_t elapsed = monotonic_time_us() - origin;
        int64_t offset = 0;
        for (const auto& [after, step] : steps)
            if (elapsed >= after) offset += step;
        return offset;
    }
};

int64_t readClock(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return int64_t(now.tv_sec) * 1000000 + int64_t(now.tv_nsec) / 1000;
}
} // namespace

void esp_timer_hold_for_tests(uint64_t microseconds)
{
    heldAt.store(microseconds, std::memory_order_relaxed);
}

void esp_timer_step_for_tests(int64_t microseconds)
{
    steppedBy.store(microseconds, std::memory_order_relaxed);
}

uint64_t esp_timer_get_time()
{
    if (const uint64_t held = heldAt.load(std::memory_order_relaxed)) return held;
    static const ScheduledSteps scheduled;
    return uint64_t(readClock(CLOCK_REALTIME) + steppedBy.load(std::memory_order_relaxed) + scheduled.offsetNow());
}

int64_t monotonic_time_us()
{
    return readClock(CLOCK_MONOTONIC);
}

int64_t change_stamp_us()
{
    const int64_t wall = int64_t(esp_timer_get_time());
    int64_t last = lastStamp.load(std::memory_order_relaxed);
    int64_t stamp;
    do {
        stamp = wall > last ? wall : last + 1;
    } while (!lastStamp.compare_exchange_weak(last, stamp, std::memory_order_relaxed));
    return stamp;
}

uint64_t xthal_get_ccount()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}
