#include "driver/CM4_I2S.h"
#include "driver/Codec.h"
#include "driver/PhysicalRegisterBus.h"
#include "driver/model/HostCodec.h"
#include "platform/UnitBoard.h"

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
    // environment, takes its place. A wrong setting has been reported and replaced by its default.
    HostCodecConfig config;
    std::string error;
    HostCodecConfig::fromEnvironment(config, error);
    return new HostCodec(config);
}
