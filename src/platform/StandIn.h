#pragma once
#include <string>

// The texts of log lines that report what only the unit does for real. On the unit a command runs
// and a device node is the hardware; everywhere else (the host build, the device build off the unit,
// tests) commands are only recorded in shell.log and models answer at the device nodes, so a line
// that reported either as done would tell whoever reads the log something that did not happen.
// Callable from any thread but the audio threads (the texts are built).
class StandIn {
public:
    // `done` ("Avahi daemon restarted") where commands run; elsewhere what was asked and what
    // became of it ("Avahi daemon restart recorded in shell.log, not run").
    static std::string command(const std::string& done, const std::string& asked);
    // `line` ("Device initialized /dev/i2c-5 - 72") where the hardware answers; elsewhere followed by
    // what stands in for it.
    static std::string device(const std::string& line);
};
