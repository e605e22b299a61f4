#pragma once
#include "driver/RegisterBus.h"

// The SoC's registers through map_peripheral (/dev/mem). Only the unit has them: in the host build
// map() reports the failure and returns null.
class PhysicalRegisterBus : public RegisterBus {
public:
    RegisterWindow* map(uint32_t base, uint32_t length) override;
    void unmap(RegisterWindow* window) override;
    void delayUs(uint32_t microseconds) override;
    void yield() override;
};
