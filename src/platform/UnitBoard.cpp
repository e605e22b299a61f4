#include "platform/UnitBoard.h"

#include <fstream>
#include <iterator>

bool UnitBoard::isUnitModel(const std::string& model)
{
    return model.find("Compute Module 4") != std::string::npos;
}

bool UnitBoard::detected()
{
#if KESTRUN_DEVICE
    static const bool onUnit = [] {
        std::ifstream in("/proc/device-tree/model", std::ios::binary);
        return isUnitModel(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }();
    return onUnit;
#else
    return false;
#endif
}
