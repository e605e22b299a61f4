#pragma once
#include <string>

// Settings from the environment (the host build's KESTRUN_* variables). Each is read where it is
// used; one that is wrong never stops the program: it is reported once, in one line that names the
// variable, the value and what the program does instead, and the program goes on with that.
class EnvSetting {
public:
    // The variable's text; null when it is unset or empty (both mean "the default").
    static const char* text(const char* name);
    // Logs "W (tag): NAME="value" problem: instead" once per variable and value (any thread).
    static void refuse(const char* tag, const char* name, const char* value, const std::string& problem,
                       const std::string& instead);
};
