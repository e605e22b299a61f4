#pragma once
#include <cstdint>

// Where the Wi-Fi TCP server listens. The unit listens on every interface at its fixed port. Anywhere
// else (the host build, the device build off the unit) it listens on loopback only, so that a
// development or CI machine never exposes the program to its network, and $KESTRUN_TCP_PORT may
// choose another port (tests run several programs at once).
class TcpEndpoint {
public:
    static int port(int unitPort);
    // IPv4 address to bind, host byte order.
    static uint32_t bindAddress();
};
