#pragma once
#include <cstddef>
#include <string>
#include <sys/types.h>

// An I2C bus through the i2c-dev interface: open the bus, select the peripheral's address, then plain
// writes and reads. The device build is the kernel's i2c-dev; the host build answers with in-memory
// models of the unit's peripherals (see I2cModel in the host folder). Results follow the system calls
// they stand for: -1 with errno on failure.
class I2cBus {
public:
    // A descriptor for the bus at one of the unit's paths ("/dev/i2c-5"), or -1.
    static int open(const std::string& unitPath);
    // I2C_SLAVE: the 7-bit address that later reads and writes talk to.
    static int selectAddress(int fd, int address);
    static ssize_t write(int fd, const void* data, size_t length);
    static ssize_t read(int fd, void* data, size_t length);
    static void close(int fd);
};
