#include "driver/ADS1115.h"

#include "platform/I2cBus.h"
#include "platform/StandIn.h"
#include "porting/Log.h"

#include <cstdint>

namespace {

constexpr const char* kTag = "Ads1115";

// Configuration register (pointer 1), most significant byte first: start a conversion, AIN0 against
// GND, full scale +-4.096 V, continuous conversion; 128 samples per second, comparator disabled.
constexpr uint8_t kConfig[3] = {0x01, 0xC2, 0x83};
constexpr uint8_t kConversionPointer = 0x00;
// Millivolts per step at +-4.096 V full scale (32768 steps).
constexpr float kMvPerStep = 0.125f;

} // namespace

Ads1115::Ads1115(const char* path, int address) : path(path ? path : ""), address(address)
{
    fd = I2cBus::open(this->path);
    if (fd < 0) {
        LOG_E(kTag, "Failed to open device %s\n", this->path.c_str());
        return;
    }
    if (I2cBus::selectAddress(fd, address) < 0) {
        LOG_E(kTag, "Failed to open address %d\n", address);
        // Nothing more can be said to a device we could not address; the bus is not kept open.
        I2cBus::close(fd);
        fd = -1;
        return;
    }
    LOG_I(kTag, "%s\n", StandIn::device("Device initialized " + this->path + " - " + std::to_string(address)).c_str());
    initialized = true;
    if (I2cBus::write(fd, kConfig, sizeof kConfig) < ssize_t(sizeof kConfig)) {
        LOG_E(kTag, "Failed to write config\n");
        initialized = false;
    }
}

Ads1115::~Ads1115()
{
    I2cBus::close(fd);
}

int Ads1115::read_value_mv()
{
    if (!initialized) return -1;
    // The pointer only needs selecting once, but selecting it every time costs one byte and makes a
    // read right after a stray configuration access still return the conversion.
    (void)I2cBus::write(fd, &kConversionPointer, 1);
    uint8_t bytes[2] = {};
    if (I2cBus::read(fd, bytes, sizeof bytes) != ssize_t(sizeof bytes)) {
        LOG_E(kTag, "read error\n");
        return -1;
    }
    int16_t raw = int16_t(uint16_t(bytes[0] << 8 | bytes[1]));
    if (raw < 0) return 0;
    return int(float(raw) * kMvPerStep);
}
