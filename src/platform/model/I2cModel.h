#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// A model of the I2C bus with the ADS1115 converter on it, which tests (and host tools) set: the host
// build's bus, and the tests' on either target (see ModelNodes). Every i2c-dev path opens the same
// model bus, which answers the i2c-dev calls (I2C_SLAVE, plain reads and writes) with the kernel's
// results and errno values. The chip keeps the converter's register pointer: a one-byte write
// selects a register, a three-byte write also loads it (most significant byte first), a two-byte
// read returns the selected register (pointer 0 the conversion, 1 the configuration). Writes to an
// address where no chip answers fail with ENXIO, as an unacknowledged transfer does. Callable from
// any thread.
class I2cModel {
public:
    // Bus present, converter at 0x48 with conversion 0 and its power-up configuration, no faults.
    static void reset();
    // Opening the bus fails with ENOENT when absent.
    static void setBusPresent(bool present);
    // The converter's address; -1 for no chip on the bus.
    static void setChipAddress(int address);
    // Selecting any address fails with EBUSY (a kernel driver holds it).
    static void setAddressBusy(bool busy);
    // The conversion register (a signed 16-bit result).
    static void setConversion(int16_t value);
    // Writes or reads to the chip fail with EREMOTEIO.
    static void setWriteFailure(bool fail);
    static void setReadFailure(bool fail);

    static uint16_t configuration();
    static int pointer();
    // Writes the chip has accepted.
    static int writeCount();

    // The node's calls (ModelNodes). open() gives a real descriptor that aliases no other file.
    static int open();
    static bool owns(int fd);
    static int ioctl(int fd, unsigned long request, void* argument);
    static ssize_t read(int fd, void* data, size_t length);
    static ssize_t write(int fd, const void* data, size_t length);
    static int close(int fd);
};
