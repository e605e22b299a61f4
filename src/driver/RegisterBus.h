#pragma once
#include <cstdint>

// One mapped window of peripheral registers, addressed by byte offset. Every access is a full
// 32-bit load or store, as the SoC's peripherals require.
class RegisterWindow {
public:
    virtual uint32_t read(uint32_t offset) = 0;
    virtual void write(uint32_t offset, uint32_t value) = 0;
    virtual ~RegisterWindow() = default;
};

// Access to the SoC's peripheral registers for a driver: mapping and release of windows, and the
// two ways a driver waits on the hardware (a short delay, and giving the processor away while a
// status bit is not ready). The unit maps /dev/mem (PhysicalRegisterBus); tests supply a model of
// the block.
class RegisterBus {
public:
    // Maps `length` bytes at the physical address `base`; null on failure.
    virtual RegisterWindow* map(uint32_t base, uint32_t length) = 0;
    virtual void unmap(RegisterWindow* window) = 0;
    virtual void delayUs(uint32_t microseconds) = 0;
    // Called between polls of a status bit.
    virtual void yield() = 0;
    virtual ~RegisterBus() = default;
};
