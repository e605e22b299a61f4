#include "platform/Shell.h"

#include "platform/Paths.h"
#include "platform/UnitBoard.h"
#include "platform/model/ShellScript.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::atomic<bool> recordOnly{false};

} // namespace

void Shell::recordOnly()
{
    ::recordOnly.store(true, std::memory_order_relaxed);
}

#if KESTRUN_DEVICE

// Only the unit runs anything. Anywhere else its commands (taskset over every process, sudo scripts,
// gpioset, nmcli) would reconfigure the machine the program runs on.
bool Shell::runs()
{
    if (::recordOnly.load(std::memory_order_relaxed)) return false;
    if (UnitBoard::detected()) return true;
    static std::once_flag told;
    std::call_once(told, [] {
        std::printf("W (%s): not on the unit: commands are recorded in %s/shell.log, not run\n", "Shell",
                    Paths::root().c_str());
    });
    return false;
}

int Shell::system(const std::string& command)
{
    if (!runs()) return ShellScript::system(command);
    return std::system(command.c_str());
}

bool Shell::read(const std::string& command, std::string& output, int* status)
{
    if (!runs()) return ShellScript::read(command, output, status);
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
    if (!runs()) return ShellScript::write(command, input);
    FILE* pipe = ::popen(command.c_str(), "w");
    if (!pipe) return -1;
    std::fwrite(input.data(), 1, input.size(), pipe);
    return ::pclose(pipe);
}

#else

// The host build has no way to run a command at all.
bool Shell::runs()
{
    return false;
}

int Shell::system(const std::string& command)
{
    return ShellScript::system(command);
}

bool Shell::read(const std::string& command, std::string& output, int* status)
{
    return ShellScript::read(command, output, status);
}

int Shell::write(const std::string& command, const std::string& input)
{
    return ShellScript::write(command, input);
}

#endif
