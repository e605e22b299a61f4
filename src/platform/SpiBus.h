#pragma once
#include <cstdint>
#include <linux/spi/spidev.h>
#include <string>

// The SPI bus of the panel's shift-register chain. The device build uses spidev (open, the mode
// requests and full-duplex messages, each call one ioctl). The host build has no bus: an in-memory
// model of the chain answers instead (see SpiChain in the host folder), taking as long on its wire as
// the real chain would, so the program sees the same pace. Results follow the system calls they
// stand for: -1 with errno on failure.
class SpiBus {
public:
    // A descriptor for the bus at one of the unit's paths ("/dev/spidev0.0"), or -1.
    static int open(const std::string& unitPath);
    // SPI_IOC_WR_MODE / SPI_IOC_RD_MODE (mode 0..3: clock polarity and phase).
    static int writeMode(int fd, uint8_t mode);
    static int readMode(int fd, uint8_t* mode);
    // One full-duplex message of one transfer (SPI_IOC_MESSAGE(1)): the byte count, or -1.
    static int transfer(int fd, const spi_ioc_transfer* message);
    static void close(int fd);
};
