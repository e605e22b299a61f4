#pragma once
#include <cstdint>

// The host build's I2C bus: an in-memory ADS1115 converter that tests (and host tools) set. Every bus
// path opens the same model bus. The chip keeps the converter's register pointer: a one-byte write
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
};
