#include "platform/TcpEndpoint.h"

#include <netinet/in.h>

int TcpEndpoint::port(int unitPort)
{
    return unitPort;
}

uint32_t TcpEndpoint::bindAddress()
{
    return INADDR_ANY;
}
