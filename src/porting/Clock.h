#pragma once
#include <cstdint>

// Microseconds of the wall clock since the Unix epoch: the time base of every changeTime, period and
// time-out. Setting the system time moves it.
uint64_t esp_timer_get_time();
// Tests: holds the wall clock at `microseconds`, as a unit whose time was just set would read it;
// 0 lets it run again. The program never calls it.
void esp_timer_hold_for_tests(uint64_t microseconds);

// Nanoseconds of the monotonic clock: the "tick" of the run-time statistics.
uint64_t xthal_get_ccount();
