#pragma once
#include <string>

// The converter of the analog controller input (an expression pedal): an ADS1115 on an I2C bus,
// measuring AIN0 against ground continuously at 128 samples per second, full scale +-4.096 V, so
// one step is 0.125 mV. The constructor opens the bus, selects the address and starts the
// conversions; read_value_mv returns the latest result. Built once at start-up; read only from the
// "controlLoop" thread (through the analog control source). A missing bus or device leaves the
// driver uninitialised and every read returns -1; there is no retry.
class Ads1115 {
public:
    // The unit has it on "/dev/i2c-5" at address 0x48.
    Ads1115(const char* path, int address);
    ~Ads1115();
    Ads1115(const Ads1115&) = delete;
    Ads1115& operator=(const Ads1115&) = delete;

    // Millivolts, 0 to 4095 (negative readings count as 0); -1 when the driver is not initialised or
    // the read fails.
    int read_value_mv();

    bool isInitialized() const { return initialized; }

private:
    std::string path;
    int fd = -1;
    int address;
    bool initialized = false;
};
