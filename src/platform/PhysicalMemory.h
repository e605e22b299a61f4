#pragma once
#include <cstdint>

// Maps a range of physical memory (the SoC's peripheral registers). Only the unit has them: the host
// build reports that they are unavailable and returns null.
class PhysicalMemory {
public:
    static volatile uint32_t* map(uint32_t offset, uint32_t length);
};
