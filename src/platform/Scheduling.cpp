#include "platform/Scheduling.h"

#include "platform/UnitBoard.h"

#include <cstdlib>
#include <cstring>

bool Scheduling::unitRealtime()
{
    if (UnitBoard::detected()) return true;
    const char* value = std::getenv("KESTRUN_REALTIME");
    return value && std::strcmp(value, "1") == 0;
}
