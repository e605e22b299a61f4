#include "driver/Codec.h"
#include "driver/model/HostCodec.h"
#include "porting/Log.h"

#include <string>

// The host build has no I2S block: the host codec, configured from the environment, takes its place.
CodecInterface* Codec::createBoardCodec()
{
    HostCodecConfig config;
    std::string error;
    if (!HostCodecConfig::fromEnvironment(config, error)) {
        LOG_E("HostCodec", "%s\n", error.c_str());
        return nullptr;
    }
    return new HostCodec(config);
}
