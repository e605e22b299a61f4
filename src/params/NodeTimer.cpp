#include "params/NodeTimer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

NodeTimer::NodeTimer(Node* parent, const char* key, const char* label, float min, float max, float defaultValue,
                     const char* unit)
    : NodeFloat(parent, key, label, min, max, defaultValue, unit, 0.5f, false, 0)
{}

std::string NodeTimer::toString()
{
    bool minutes = std::strcmp(unit, MM_SS) == 0;
    bool hours = std::strcmp(unit, HH_MM_SS) == 0;
    if (!minutes && !hours) return NodeFloat::toString();
    // Whole seconds, truncated; kept inside the int range whatever the node holds.
    float value = getValue();
    long long s = std::isnan(value) ? 0 : (long long)(std::clamp(value, -2.0e9f, 2.0e9f));
    char text[64];
    if (minutes) std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    else std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    return text;
}

void NodeTimer::edit(bool up)
{
    setValue(up ? getValue() + 1.0f : getValue() - 1.0f);
}
