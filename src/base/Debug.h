#pragma once
#include <atomic>
#include <cstdint>

// Run-time statistics of the audio frame loop (the main record) and of up to eight numbered worker
// loops (the amp-model players), in ticks of xthal_get_ccount (nanoseconds, low 32 bits). Each record
// is written by its own loop (cycle_start at the start of a frame, cycle_measure after processing:
// one clock read, no allocation, lock or output) and read by "infoTasks", which prints them every
// 2 s. The max/min readers reset what they return.
class Debug {
public:
    struct Record {
        uint32_t cycleTicks = 0;
        uint32_t execTicks = 0;
        uint32_t maxCycle = 0;
        uint32_t minCycle = 0; // 0: none yet
        uint32_t maxExec = 0;
        uint32_t lastStart = 0;
        // Raised by the loop itself and, for an amp-model worker that is late, by the audio thread.
        std::atomic<uint32_t> overrunCount{0};
    };
    static constexpr int kRecords = 8;
    // A frame of 16 samples lasts 333 us; processing beyond 0.48 ms counts as an overrun.
    static constexpr uint32_t kOverrunTicks = 480000;

    static void cycle_start();
    static void cycle_measure();
    static void cycle_start_n(int i);
    static void cycle_measure_n(int i);
    static void add_overrun_cnt_n(int i);

    static uint32_t getCycleTicks();
    static uint32_t getExecTicks();
    static uint32_t get_overrun_cnt();
    static uint32_t getMaxTicks(bool reset = true);
    static uint32_t getMinTicks(bool reset = true);
    static uint32_t getMaxExecTicks(bool reset = true);
    static uint32_t getCycleTicks_n(int i);
    static uint32_t getExecTicks_n(int i);
    static uint32_t get_overrun_cnt_n(int i);
    static uint32_t getMaxTicks_n(int i, bool reset = true);
    static uint32_t getMinTicks_n(int i, bool reset = true);
    static uint32_t getMaxExecTicks_n(int i, bool reset = true);

    // The same steps with the tick given (the loops pass the clock; tests pass chosen numbers).
    static void start(Record& r, uint32_t now);
    static void measure(Record& r, uint32_t now);

    static Record main_cycle;
    static Record n_cycles[kRecords];
};

// Body of the "infoTasks" thread: prints the three statistics lines every 2 s, forever.
void* info_tasks(void*);
// One pass of it (the three lines), without the sleep.
void info_print();
