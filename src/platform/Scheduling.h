#pragma once

// Whether the program takes the unit's real-time set-up: SCHED_FIFO and nice priorities, one pinned
// CPU per thread, all memory locked. Always on the unit. Anywhere else (the host build, the device
// build on a build machine or under an emulator) only when KESTRUN_REALTIME=1: otherwise every thread
// runs at the inherited priority on any CPU and memory may be paged, so that a shared PC or CI machine
// running several copies of the program is neither starved by their real-time threads, crowded onto
// one CPU, nor short of memory they pin.
class Scheduling {
public:
    static bool unitRealtime();
};
