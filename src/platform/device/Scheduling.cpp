#include "platform/Scheduling.h"

bool Scheduling::unitPriorities()
{
    return true;
}
