#include "platform/Shell.h"

#include <cstdio>
#include <cstdlib>

int Shell::system(const std::string& command)
{
    return std::system(command.c_str());
}

bool Shell::read(const std::string& command, std::string& output, int* status)
{
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return false;
    }
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int result = ::pclose(pipe);
    if (status) *status = result;
    return true;
}

int Shell::write(const std::string& command, const std::string& input)
{
    FILE* pipe = ::popen(command.c_str(), "w");
    if (!pipe) return -1;
    std::fwrite(input.data(), 1, input.size(), pipe);
    return ::pclose(pipe);
}
