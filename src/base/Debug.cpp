#include "base/Debug.h"

#include "porting/Clock.h"
#include "porting/Log.h"
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

uint32_t takeAndReset(uint32_t& field)
{
    uint32_t value = field;
    field = 0;
    return value;
}

} // namespace

void Debug::start(Record& r, uint32_t now)
{
    r.cycleTicks = now - r.lastStart;
    r.lastStart = now;
    if (r.cycleTicks > r.maxCycle) r.maxCycle = r.cycleTicks;
    if (r.minCycle == 0 || r.minCycle > r.cycleTicks) r.minCycle = r.cycleTicks;
}

void Debug::measure(Record& r, uint32_t now)
{
    r.execTicks = now - r.lastStart;
    if (r.execTicks > r.maxExec) r.maxExec = r.execTicks;
    if (r.execTicks > kOverrunTicks) ++r.overrunCount;
}

void Debug::cycle_start() { start(main_cycle, tick()); }
void Debug::cycle_measure() { measure(main_cycle, tick()); }

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
    if (Record* r = record(i)) ++r->overrunCount;
}

uint32_t Debug::getCycleTicks() { return main_cycle.cycleTicks; }
uint32_t Debug::getExecTicks() { return main_cycle.execTicks; }
uint32_t Debug::get_overrun_cnt() { return main_cycle.overrunCount; }
uint32_t Debug::getMaxTicks(bool) { return takeAndReset(main_cycle.maxCycle); }
uint32_t Debug::getMinTicks(bool) { return takeAndReset(main_cycle.minCycle); }
uint32_t Debug::getMaxExecTicks(bool) { return takeAndReset(main_cycle.maxExec); }

uint32_t Debug::getCycleTicks_n(int i) { return record(i) ? record(i)->cycleTicks : 0; }
uint32_t Debug::getExecTicks_n(int i) { return record(i) ? record(i)->execTicks : 0; }
uint32_t Debug::get_overrun_cnt_n(int i) { return record(i) ? record(i)->overrunCount.load() : 0; }
uint32_t Debug::getMaxTicks_n(int i, bool) { return record(i) ? takeAndReset(record(i)->maxCycle) : 0; }
uint32_t Debug::getMinTicks_n(int i, bool) { return record(i) ? takeAndReset(record(i)->minCycle) : 0; }
uint32_t Debug::getMaxExecTicks_n(int i, bool) { return record(i) ? takeAndReset(record(i)->maxExec) : 0; }

void info_print()
{
    // The numbers are printed as %d, as the unit always has.
    LOG_W("cycle ", "%d / %d max %d [%d %d] - %d\n", int(Debug::getExecTicks()), int(Debug::getCycleTicks()),
          int(Debug::getMaxExecTicks(true)), int(Debug::getMinTicks(true)), int(Debug::getMaxTicks(true)),
          int(Debug::get_overrun_cnt()));
    const char* tags[2] = {"cpu 1", "cpu 2"};
    for (int i = 0; i < 2; ++i) {
        LOG_W(tags[i], "%d / %d max %d [%d %d] - %d\n", int(Debug::getExecTicks_n(i)), int(Debug::getCycleTicks_n(i)),
              int(Debug::getMaxExecTicks_n(i, true)), int(Debug::getMinTicks_n(i, true)),
              int(Debug::getMaxTicks_n(i, true)), int(Debug::get_overrun_cnt_n(i)));
    }
}

void* info_tasks(void*)
{
    for (;;) {
        info_print();
        vTaskDelay(2000000);
    }
    return nullptr;
}
