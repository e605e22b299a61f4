#pragma once

// Whether threads get the unit's exact scheduling: SCHED_FIFO and nice priorities and one pinned
// CPU each. Always on the device. On the host only when KESTRUN_REALTIME=1: otherwise every thread
// runs at the inherited priority on any CPU, so that a shared PC or CI machine running several
// copies of the program is neither starved by their real-time threads nor crowded onto one CPU.
class Scheduling {
public:
    static bool unitPriorities();
};
