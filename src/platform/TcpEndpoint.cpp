#include "platform/TcpEndpoint.h"

#include "platform/EnvSetting.h"
#include "platform/UnitBoard.h"

#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>

int TcpEndpoint::port(int unitPort)
{
    if (UnitBoard::detected()) return unitPort;
    const char* env = EnvSetting::text("KESTRUN_TCP_PORT");
    if (!env) return unitPort;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(env, &end, 10);
    if (*end != '\0' || errno != 0 || value <= 0 || value > 65535) {
        EnvSetting::refuse("Wifi", "KESTRUN_TCP_PORT", env, "is not a port number from 1 to 65535",
                           "listening on port " + std::to_string(unitPort) + " instead");
        return unitPort;
    }
    return static_cast<int>(value);
}

uint32_t TcpEndpoint::bindAddress()
{
    return UnitBoard::detected() ? INADDR_ANY : INADDR_LOOPBACK;
}
