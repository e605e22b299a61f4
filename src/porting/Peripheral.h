#pragma once
#include <cstdint>

// A read-write shared mapping of a physical address range (the SoC's registers), or null.
volatile uint32_t* map_peripheral(uint32_t offset, uint32_t length);

// Routes an interrupt to CPU 3. Nothing calls it.
void setIrqAffinity(int irq);
