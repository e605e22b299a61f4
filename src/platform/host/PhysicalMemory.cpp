#include "platform/PhysicalMemory.h"

#include <cstdio>

volatile uint32_t* PhysicalMemory::map(uint32_t offset, uint32_t length)
{
    std::printf("W (%s): no physical memory in the host build (offset 0x%08x, %u bytes)\n", "Platform", offset, length);
    return nullptr;
}
