#include "platform/TcpEndpoint.h"

#include "platform/UnitBoard.h"

#include <cstdlib>
#include <netinet/in.h>

int TcpEndpoint::port(int unitPort)
{
    if (UnitBoard::detected()) return unitPort;
    const char* env = std::getenv("KESTRUN_TCP_PORT");
    if (!env || !*env) return unitPort;
    char* end = nullptr;
    long value = std::strtol(env, &end, 10);
    if (*end != '\0' || value <= 0 || value > 65535) return unitPort;
    return static_cast<int>(value);
}

uint32_t TcpEndpoint::bindAddress()
{
    return UnitBoard::detected() ? INADDR_ANY : INADDR_LOOPBACK;
}
