#include "platform/Scheduling.h"

#include "platform/EnvSetting.h"
#include "platform/UnitBoard.h"

#include <cstring>

bool Scheduling::unitRealtime()
{
    if (UnitBoard::detected()) return true;
    const char* value = EnvSetting::text("KESTRUN_REALTIME");
    if (!value || std::strcmp(value, "0") == 0) return false;
    if (std::strcmp(value, "1") == 0) return true;
    EnvSetting::refuse("Scheduling", "KESTRUN_REALTIME", value, "is neither 1 nor 0",
                       "normal priorities on any CPU, as without it");
    return false;
}
