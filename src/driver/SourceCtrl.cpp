#include "driver/SourceCtrl.h"

#include "porting/Clock.h"
#include "porting/Log.h"

#include <algorithm>
#include <cstdlib>

namespace {
constexpr const char* kTag = "SourceCtrl";
// The input settles after power-up before anything is passed on.
constexpr uint64_t kSettleUs = 2000000;
// After a big move, every change passes during this window.
constexpr uint64_t kFollowUs = 999999;
// A move of more than this (of 255) is a deliberate one.
constexpr int kJumpSteps = 10;
} // namespace

SourceCtrl::SourceCtrl(const char* name, const char* label, int channel, Reader reader)
    : Source(name, label), channel(channel), reader(std::move(reader))
{}

SourceCtrl::SourceCtrl(const char* name, const char* label, int channel) : SourceCtrl(name, label, channel, nullptr) {}

uint64_t SourceCtrl::now()
{
    return esp_timer_get_time();
}

int SourceCtrl::readLevel()
{
    return std::clamp(reader(channel), 0, 4095);
}

void SourceCtrl::initialize()
{
    // A second set-up would restart the settling time.
    if (!reader || initialized) return;
    value = 2 * readLevel();
    startTime = jumpTime = now();
    LOG_I(kTag, "Driver install done\n");
    initialized = true;
}

void SourceCtrl::tasks()
{
    if (!initialized) {
        initialize();
        return;
    }
    if (reader) value = readLevel() + value / 2;
    uint8_t level = uint8_t((value / 32) % 256);
    if (level == last) return;
    uint64_t time = now();
    if (time - startTime < kSettleUs) {
        last = level;
        return;
    }
    if (std::abs(int(level) - int(last)) > kJumpSteps) {
        last = level;
        jumpTime = time;
    }
    if (time - jumpTime <= kFollowUs) {
        last = level;
        unsigned char byte[1] = {last};
        send(byte, 1);
    }
}
