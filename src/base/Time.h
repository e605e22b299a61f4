#pragma once

// The time service: "eventTasks" calls tasks() every 10 ms. The unit keeps no notion of a
// synchronised clock, so sync_status is never set.
class Time {
public:
    static void tasks();
    static bool initialized;
    static bool sync_status;
};
