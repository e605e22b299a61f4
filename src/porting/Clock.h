#pragma once
#include <cstdint>

// Microseconds of the wall clock since the Unix epoch: the time base of every changeTime, period and
// time-out. Setting the system time moves it.
uint64_t esp_timer_get_time();

// Nanoseconds of the monotonic clock: the "tick" of the run-time statistics.
uint64_t xthal_get_ccount();
