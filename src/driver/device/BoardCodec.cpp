#include "driver/CM4_I2S.h"
#include "driver/Codec.h"
#include "driver/PhysicalRegisterBus.h"
#include "porting/Log.h"

#include <fstream>
#include <iterator>
#include <string>

namespace {

// The registers are those of the BCM2711: anywhere else /dev/mem holds something else.
bool isBcm2711()
{
    std::ifstream in("/proc/device-tree/compatible", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.find("bcm2711") != std::string::npos;
}

} // namespace

CodecInterface* Codec::createBoardCodec()
{
    if (!isBcm2711()) {
        LOG_W("Codec", "not a BCM2711: the I2S block is not registered\n");
        return nullptr;
    }
    static PhysicalRegisterBus bus;
    return new CM4_I2S(bus);
}
