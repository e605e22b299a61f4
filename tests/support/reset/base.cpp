// The base layer as a fresh process finds it: no system tree, no launcher decision, no upload under
// way, no board, empty statistics.
#include "base/Board.h"
#include "base/Debug.h"
#include "base/System.h"
#include "base/Update.h"
#include "support/ResetHooks.h"

static void clear(Debug::Record& record)
{
    record.cycleTicks = record.execTicks = record.maxCycle = record.minCycle = record.maxExec = 0;
    record.lastStart = 0;
    record.overrunCount.store(0);
}

static ResetHook baseReset([] {
    System::root = System::app = System::system = nullptr;
    System::name = System::alias = System::arch = System::upd = nullptr;
    System::initialized = false;
    Update::enabled = Update::recovery = Update::initialized = false;
    Update::update_bytes = Update::received_bytes = 0;
    Update::update_handle.reset();
    Update::batch_size = 2048;
    Board::board = nullptr;
    clear(Debug::main_cycle);
    for (auto& record : Debug::n_cycles) clear(record);
});
