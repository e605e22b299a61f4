#include "base/Time.h"

bool Time::initialized = false;
bool Time::sync_status = false;

void Time::tasks()
{
    initialized = true;
}
