#include "platform/Paths.h"

const std::string& Paths::root()
{
    static const std::string none;
    return none;
}

std::string Paths::map(const std::string& unitPath)
{
    return unitPath;
}
