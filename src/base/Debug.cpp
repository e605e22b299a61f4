#include "base/Debug.h"

#include "platform/Scheduling.h"
#include "porting/Clock.h"
#include "porting/Log.h"
#include "porting/LogOnce.h"
#include "porting/Task.h"

Debug::Record Debug::main_cycle;
Debug::Record Debug::n_cycles[Debug::kRecords];

namespace {

uint32_t tick()
{
    return uint32_t(xthal_get_ccount());
}

Debug::Record* record(int i)
{
    return i >= 0 && i < Debug::kRecords ? &Debug::n_cycles[i] : nullptr;
}

uint32_t takeAndReset(std::atomic<uint32_t>& field)
{
    return field.exchange(0, std::memory_order_relaxed);
}

uint32_t get(const std::atomic<uint32_t>& field)
{
    return field.load(std::memory_order_relaxed);
}

void set(std::atomic<uint32_t>& field, uint32_t value)
{
    field.store(value, std::memory_order_relaxed);
}

// A player's overruns are counted by its worker and by the audio thread that found it late.
void increment(std::atomic<uint32_t>& field)
{
    field.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

void Debug::start(Record& r, uint32_t now)
{
    const uint32_t cycle = now - get(r.lastStart);
    set(r.cycleTicks, cycle);
    set(r.lastStart, now);
    if (cycle > get(r.maxCycle)) set(r.maxCycle, cycle);
    const uint32_t least = get(r.minCycle);
    if (least == 0 || least > cycle) set(r.minCycle, cycle);
}

void Debug::measure(Record& r, uint32_t now)
{
    const uint32_t exec = now - get(r.lastStart);
    set(r.execTicks, exec);
    if (exec > get(r.maxExec)) set(r.maxExec, exec);
    if (exec > kOverrunTicks) increment(r.overrunCount);
}

void Debug::cycle_start()
{
    start(main_cycle, tick());
}
void Debug::cycle_measure()
{
    measure(main_cycle, tick());
}

void Debug::cycle_start_n(int i)
{
    if (Record* r = record(i)) start(*r, tick());
}

void Debug::cycle_measure_n(int i)
{
    if (Record* r = record(i)) measure(*r, tick());
}

void Debug::add_overrun_cnt_n(int i)
{
    if (Record* r = record(i)) increment(r->overrunCount);
}

uint32_t Debug::getCycleTicks()
{
    return get(main_cycle.cycleTicks);
}
uint32_t Debug::getExecTicks()
{
    return get(main_cycle.execTicks);
}
uint32_t Debug::get_overrun_cnt()
{
    return get(main_cycle.overrunCount);
}
uint32_t Debug::getMaxTicks(bool)
{
    return takeAndReset(main_cycle.maxCycle);
}
uint32_t Debug::getMinTicks(bool)
{
    return takeAndReset(main_cycle.minCycle);
}
uint32_t Debug::getMaxExecTicks(bool)
{
    return takeAndReset(main_cycle.maxExec);
}

uint32_t Debug::getCycleTicks_n(int i)
{
    return record(i) ? get(record(i)->cycleTicks) : 0;
}
uint32_t Debug::getExecTicks_n(int i)
{
    return record(i) ? get(record(i)->execTicks) : 0;
}
uint32_t Debug::get_overrun_cnt_n(int i)
{
    return record(i) ? get(record(i)->overrunCount) : 0;
}
uint32_t Debug::getMaxTicks_n(int i, bool)
{
    return record(i) ? takeAndReset(record(i)->maxCycle) : 0;
}
uint32_t Debug::getMinTicks_n(int i, bool)
{
    return record(i) ? takeAndReset(record(i)->minCycle) : 0;
}
uint32_t Debug::getMaxExecTicks_n(int i, bool)
{
    return record(i) ? takeAndReset(record(i)->maxExec) : 0;
}

void info_print()
{
    // Nanoseconds as unsigned: the same text as signed below 2^31, and the gap before the first
    // frames (seconds) is not printed negative.
    LOG_W("cycle ", "%u / %u max %u [%u %u] - %u\n", Debug::getExecTicks(), Debug::getCycleTicks(),
          Debug::getMaxExecTicks(true), Debug::getMinTicks(true), Debug::getMaxTicks(true), Debug::get_overrun_cnt());
    const char* tags[2] = {"cpu 1", "cpu 2"};
    for (int i = 0; i < 2; ++i) {
        LOG_W(tags[i], "%u / %u max %u [%u %u] - %u\n", Debug::getExecTicks_n(i), Debug::getCycleTicks_n(i),
              Debug::getMaxExecTicks_n(i, true), Debug::getMinTicks_n(i, true), Debug::getMaxTicks_n(i, true),
              Debug::get_overrun_cnt_n(i));
    }
}

void* info_tasks(void*)
{
    // With the unit's real-time set-up (the unit, or KESTRUN_REALTIME=1) every 2 s: the lines are
    // the diagnostic a player sends in. Elsewhere at start and when the overruns reach their 1st,
    // 2nd, 4th... (the lines carry the counts): a PC without real-time rights is late now and then,
    // and its log would fill with them.
    const bool everyTime = Scheduling::unitRealtime();
    LogOnce statistics;
    for (bool first = true;; first = false) {
        uint64_t overruns = Debug::get_overrun_cnt();
        for (int i = 0; i < Debug::kRecords; ++i) overruns += Debug::get_overrun_cnt_n(i);
        if (statistics.reached(overruns) || first || everyTime) info_print();
        vTaskDelay(2000000);
    }
    return nullptr;
}
