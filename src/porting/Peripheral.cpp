#include "porting/Peripheral.h"

#include "platform/Paths.h"
#include "platform/PhysicalMemory.h"
#include "porting/Log.h"

#include <cstdio>

volatile uint32_t* map_peripheral(uint32_t offset, uint32_t length)
{
    return PhysicalMemory::map(offset, length);
}

void setIrqAffinity(int irq)
{
    char path[128];
    std::snprintf(path, sizeof path, "/proc/irq/%d/smp_affinity", irq);
    FILE* file = std::fopen(Paths::map(path).c_str(), "w");
    if (!file) {
        LOG_E("Affinity set", "can not open file\n");
        return;
    }
    if (std::fprintf(file, "8\n") < 0) LOG_E("Affinity set", "can not print file\n");
    std::fclose(file);
}
