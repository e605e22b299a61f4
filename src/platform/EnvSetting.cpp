#include "platform/EnvSetting.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

const char* EnvSetting::text(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

void EnvSetting::refuse(const char* tag, const char* name, const char* value, const std::string& problem,
                        const std::string& instead)
{
    // Some settings are read again (each thread start, each file written): one line per wrong value.
    static std::mutex guard;
    static std::set<std::string>* reported = new std::set<std::string>;
    {
        std::lock_guard<std::mutex> lock(guard);
        if (!reported->insert(std::string(name) + "=" + (value ? value : "")).second) return;
    }
    std::printf("W (%s): %s=\"%s\" %s: %s\n", tag, name, value ? value : "", problem.c_str(), instead.c_str());
}
