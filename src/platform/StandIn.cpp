#include "platform/StandIn.h"

#include "platform/DeviceNodes.h"
#include "platform/Shell.h"

std::string StandIn::command(const std::string& done, const std::string& asked)
{
    return Shell::runs() ? done : asked + " recorded in shell.log, not run";
}

std::string StandIn::device(const std::string& line)
{
    return DeviceNodes::modelled() ? line + " (an in-memory model stands in)" : line;
}
