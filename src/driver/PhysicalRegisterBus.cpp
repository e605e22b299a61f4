#include "driver/PhysicalRegisterBus.h"

#include "porting/Peripheral.h"
#include "porting/Task.h"

#include <sched.h>
#include <sys/mman.h>

namespace {

class MappedWindow : public RegisterWindow {
public:
    MappedWindow(volatile uint32_t* registers, uint32_t length) : registers(registers), length(length) {}
    ~MappedWindow() override { munmap(const_cast<uint32_t*>(registers), length); }
    uint32_t read(uint32_t offset) override { return registers[offset / 4]; }
    void write(uint32_t offset, uint32_t value) override { registers[offset / 4] = value; }

private:
    volatile uint32_t* registers;
    uint32_t length;
};

} // namespace

RegisterWindow* PhysicalRegisterBus::map(uint32_t base, uint32_t length)
{
    volatile uint32_t* registers = map_peripheral(base, length);
    return registers ? new MappedWindow(registers, length) : nullptr;
}

void PhysicalRegisterBus::unmap(RegisterWindow* window)
{
    delete window;
}

void PhysicalRegisterBus::delayUs(uint32_t microseconds)
{
    vTaskDelay(microseconds);
}

void PhysicalRegisterBus::yield()
{
    sched_yield();
}
