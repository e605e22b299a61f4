#pragma once
#include <cstdint>

// Microseconds of the wall clock since the Unix epoch: the time base of the stamps that the remote
// side and the screens show or compare as times of day. Setting the system time moves it, so no
// interval is measured on it (monotonic_time_us does that).
uint64_t esp_timer_get_time();

// Microseconds of the monotonic clock (any origin): every period, time-out, back-off and idle rule.
int64_t monotonic_time_us();

// Microseconds for a change stamp (a node's changeTime, a poll's lastRead): the wall clock, except
// that a stamp never goes back. After the wall clock is set back, stamps go on from the last one
// (one microsecond per reading) until the wall clock passes it again, so a change made after the
// step still counts as later than a poll made before it. Any thread.
int64_t change_stamp_us();

// Tests: holds the wall clock at `microseconds`, as a unit whose time was just set would read it;
// 0 lets it run again. The program never calls it.
void esp_timer_hold_for_tests(uint64_t microseconds);
// Tests: sets the wall clock `microseconds` away from the system's (negative: back); 0 undoes it.
// A running program takes the same steps from $KESTRUN_CLOCK_STEPS: "MS:SECONDS[,MS:SECONDS...]",
// each step of SECONDS applied MS milliseconds after the program first read the clock (how the
// network sets a unit's clock after boot). Never set on the unit.
void esp_timer_step_for_tests(int64_t microseconds);

// Nanoseconds of the monotonic clock: the "tick" of the run-time statistics.
uint64_t xthal_get_ccount();
