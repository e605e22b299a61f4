#include "platform/PhysicalMemory.h"

#include "platform/UnitBoard.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

volatile uint32_t* PhysicalMemory::map(uint32_t offset, uint32_t length)
{
    // The register addresses are the unit's SoC's: on any other machine they are someone else's memory.
    if (!UnitBoard::detected()) {
        std::printf("W (%s): not on the unit: physical memory is not mapped (offset 0x%08x, %u bytes)\n", "Platform",
                    offset, length);
        return nullptr;
    }
    int fd = ::open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0) {
        std::perror("Error opening /dev/mem - are you root?");
        return nullptr;
    }
    void* mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    ::close(fd); // the mapping outlives the descriptor
    if (mapped == MAP_FAILED) {
        std::perror("mmap failed");
        return nullptr;
    }
    return static_cast<volatile uint32_t*>(mapped);
}
