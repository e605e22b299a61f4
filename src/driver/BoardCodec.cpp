#include "driver/CM4_I2S.h"
#include "driver/Codec.h"
#include "driver/PhysicalRegisterBus.h"
#include "driver/model/HostCodec.h"
#include "platform/UnitBoard.h"
#include "porting/Log.h"

#include <string>

CodecInterface* Codec::createBoardCodec()
{
#if KESTRUN_DEVICE
    if (UnitBoard::detected()) {
        static PhysicalRegisterBus bus;
        return new CM4_I2S(bus);
    }
#endif
    // Anywhere but on the unit there is no I2S block: the host codec, configured from the
    // environment, takes its place.
    HostCodecConfig config;
    std::string error;
    if (!HostCodecConfig::fromEnvironment(config, error)) {
        LOG_E("HostCodec", "%s\n", error.c_str());
        return nullptr;
    }
    return new HostCodec(config);
}
