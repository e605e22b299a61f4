#pragma once
#include <cstdint>

// A condition that a loop meets on every pass (a missing device, a refused port, a late worker) is
// logged when it changes, not on every pass. The caller gives each pass's state (0: all is well,
// any other value: one condition, such as an error number) and writes its own line when changed()
// says so. When a state other than 0 ends after more than one pass, the helper first writes
// "I (tag): previous message repeated N times", N counting the passes (or what the caller counts,
// such as late frames) after the one that was logged. One instance per loop; not thread-safe.
class LogOnce {
public:
    // Without a tag no count line is written (the caller's own lines carry the numbers).
    explicit LogOnce(const char* tag = nullptr) : tag_(tag) {}

    // One pass in `state`, standing for `times` occurrences. True on the first pass and whenever
    // the state differs from the previous pass's.
    bool changed(int64_t state, uint64_t times = 1);
    // For events that are only ever counted (overruns), given their running total: the state is the
    // total's order of magnitude, so the caller logs at the 1st, 2nd, 4th, 8th... event and a steady
    // trickle writes a few lines a day rather than one per event. False while the total is 0.
    bool reached(uint64_t total);
    // The state of the latest pass (0 before the first).
    int64_t state() const { return state_; }

private:
    const char* tag_;
    bool started_ = false;
    int64_t state_ = 0;
    uint64_t repeats_ = 0;
    uint64_t total_ = 0;
};
