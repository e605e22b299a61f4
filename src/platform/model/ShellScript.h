#pragma once
#include <string>

// The stand-in for the shell: the host build's, the device build's off the unit, and every test's.
// Nothing is ever run. Every command is appended to
// <root>/shell.log as its own line(s), followed by any text piped into it. Replies come from
// <root>/shell.replies, read at each call so that a test (or a person) can change it while the
// program runs. One rule per line:
//
//     <exit code> TAB <command prefix> TAB <output>
//
// the first rule whose prefix begins the command wins; in the output "\n", "\t" and "\\" stand for
// a line feed, a tab and a backslash; exit code -1 means the command cannot be run. A command that
// no rule matches succeeds with no output.
class ShellScript {
public:
    static std::string logPath();
    static std::string repliesPath();
    // Appends a rule (tests).
    static void add(const std::string& prefix, int exitCode, const std::string& output);
    // Removes every rule and empties the log (tests).
    static void reset();
    // The whole log.
    static std::string log();

    // Shell::system, read and write as recorded.
    static int system(const std::string& command);
    static bool read(const std::string& command, std::string& output, int* status);
    static int write(const std::string& command, const std::string& input);
};
