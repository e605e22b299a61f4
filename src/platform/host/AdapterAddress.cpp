#include "platform/AdapterAddress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool AdapterAddress::read(uint8_t address[6])
{
    std::memset(address, 0, 6);
    const char* text = std::getenv("KESTRUN_BT_ADDR");
    if (!text) return false;
    unsigned v[6];
    char tail;
    if (std::sscanf(text, "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i) address[i] = uint8_t(v[i]);
    return true;
}
