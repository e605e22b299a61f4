#include "ui/ServiceThreads.h"

#include <atomic>
#include <cstdint>

#include "base/Board.h"
#include "base/Time.h"
#include "driver/IOArray.h"
#include "params/Storage.h"
#include "porting/Clock.h"
#include "porting/Task.h"
#include "ui/DrawerPopup.h"
#include "ui/EventCode.h"
#include "ui/EventDispatcher.h"
#include "ui/LCD.h"
#include "ui/Light.h"

namespace {

constexpr uint32_t kPassMicros = 10000;
constexpr uint32_t kFirstClearDelayMicros = 1000000;
// A frame every sixth pass: about 16 frames per second of widget rebuilds.
constexpr int kPassesPerFrame = 5;
constexpr uint64_t kTickMicros = 199999;

// Pass counter of the frame step, shared by system_tasks, waitModal and system_tasks_loop (all on
// "systemTasks").
int passCount = 0;

// Set by "eventTasks" once the board, and with it the display and its splash, is up. The widget
// layer has no lock: "systemTasks" makes its first call only after this.
std::atomic<bool> boardStarted{false};

uint64_t tickTime = 0;
bool tickStarted = false;
// The storage failures told so far (systemTasks).
uint64_t toldFailures = 0;

void frame_step()
{
    int passes = passCount++;
    if (passes > kPassesPerFrame - 1) {
        LCD::flush();
        EventDispatcher::addEvent(EventCode::DRAW);
        LCD::clear();
        passCount = 0;
    }
}

} // namespace

void* system_tasks(void*)
{
    vTaskDelay(kFirstClearDelayMicros);
    while (!boardStarted.load(std::memory_order_acquire)) vTaskDelay(kPassMicros);
    LCD::clear();
    for (;;) {
        system_tasks_loop();
        tell_storage_failures();
    }
    return nullptr;
}

void tell_storage_failures()
{
    const Storage::Notice notice = Storage::failureNotice();
    if (notice.sequence == toldFailures) return;
    toldFailures = notice.sequence;
    new DrawerPopup("Changes not saved", notice.reason, 0, nullptr);
}

int system_tasks_loop()
{
    vTaskDelay(kPassMicros);
    int r = EventDispatcher::dispatch();
    frame_step();
    return r;
}

void waitModal()
{
    // The frame step of the pass that closed the modal screen still runs before returning.
    while (system_tasks_loop() != 0) {}
}

void event_tasks_pass()
{
    Board::eventLoop();

    uint64_t now = esp_timer_get_time();
    if (!tickStarted) {
        tickTime = now;
        tickStarted = true;
    }
    if (now - tickTime > kTickMicros) {
        EventDispatcher::addEvent(EventCode::TICK);
        EventDispatcher::broadcast(EventCode::TICK);
        tickTime = esp_timer_get_time();
    }

    IOArray::tasks();
    Light::tasks();
    Time::tasks();
    Storage::tasks();
}

void service_threads_reset()
{
    passCount = 0;
    boardStarted.store(false);
    tickTime = 0;
    tickStarted = false;
    toldFailures = 0;
}

void* event_tasks(void*)
{
    Board::initialize();
    boardStarted.store(true, std::memory_order_release);
    for (;;) {
        event_tasks_pass();
        vTaskDelay(kPassMicros);
    }
    return nullptr;
}
