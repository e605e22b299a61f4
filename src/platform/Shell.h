#pragma once
#include <string>

// Runs the unit's shell commands (gpioget, gpioset, taskset, sudo, modprobe, nmcli, systemctl,
// hcitool, ...). Only the device build on the unit runs them, through the shell. Everywhere else (the
// host build, the device build off the unit, see UnitBoard, and every test) nothing is ever run:
// every command, and any text piped into it, is appended to shell.log under the root folder, and the
// reply comes from the script file shell.replies beside it (see model/ShellScript.h). Unscripted
// commands succeed with no output. Callable from any thread.
class Shell {
public:
    // As system(3): the wait status, or -1 when the command cannot be run.
    static int system(const std::string& command);
    // As popen(command, "r") read to the end. False when the command cannot be run; `status`
    // (optional) receives the wait status.
    static bool read(const std::string& command, std::string& output, int* status = nullptr);
    // As popen(command, "w") with `input` written to it. Returns the wait status, -1 when the
    // command cannot be run.
    static int write(const std::string& command, const std::string& input);
    // From now on every command is recorded, on every build (tests call it before anything runs).
    static void recordOnly();
    // Whether commands are run here: only on the unit, and never after recordOnly.
    static bool runs();
};
