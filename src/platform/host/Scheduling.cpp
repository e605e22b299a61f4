#include "platform/Scheduling.h"

#include <cstdlib>
#include <cstring>

bool Scheduling::unitRealtime()
{
    const char* value = std::getenv("KESTRUN_REALTIME");
    return value && std::strcmp(value, "1") == 0;
}
