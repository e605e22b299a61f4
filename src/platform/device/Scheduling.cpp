#include "platform/Scheduling.h"

bool Scheduling::unitRealtime()
{
    return true;
}
