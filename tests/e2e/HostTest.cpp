// The program on a PC as a new user meets it: how it stops, and what it says about settings it
// cannot follow.
#include "Unit.h"

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWaitMs = 20000 * KESTRUN_PROGRAM_SLOWDOWN;

tcflag_t lineMode(int terminal)
{
    termios settings{};
    tcgetattr(terminal, &settings);
    return settings.c_lflag & (ICANON | ECHO);
}

// Without Bluetooth, Ctrl-C (here with the panel keys on a terminal) and SIGTERM stop the program:
// values written just before are stored, and the terminal is given back as it was.
TEST(HostStop, ValuesWrittenJustBeforeTheStopAreThereAfterTheRestart)
{
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_EQ(grantpt(terminal) | unlockpt(terminal), 0);
        int keys = ::open(ptsname(terminal), O_RDWR | O_NOCTTY);
        const tcflag_t before = lineMode(keys);
        setenv("KESTRUN_PANEL_KEYS", signal == SIGINT ? "1" : "0", 1);
        Unit unit;
        unit.setInput(keys);
        unit.start();
        unsetenv("KESTRUN_PANEL_KEYS");
        if (signal == SIGINT) {
            ASSERT_TRUE(unit.waitLog("I (Panel): keys:", kWaitMs)) << unit.log();
            EXPECT_NE(lineMode(keys), before);
            // A lone Esc takes no key after it; an arrow in either of its forms is one key.
            const std::string typed = "\x1bw\x1b[A\x1b\x1bq\x1bOB";
            ASSERT_EQ(::write(terminal, typed.data(), typed.size()), ssize_t(typed.size()));
            for (const char* command : {"turn knob1 1\n", "turn main 1\n", "turn knob1 -1\n", "turn main -1\n"})
                EXPECT_TRUE(unit.waitLog(std::string("I (Panel): ") + command, kWaitMs)) << command << unit.log();
        }
        Client client(unit.port());
        const std::string alias = "stopped-" + std::to_string(signal), volume = std::to_string(signal + 10);
        client.ask("write root\\sys\\alias:{\"value\":\"" + alias +
                   "\"}\r\nwrite root\\app\\output\\vol:{\"value\":" + volume + "}");
        EXPECT_EQ(unit.stop(signal, kWaitMs), 0) << unit.log();
        EXPECT_EQ(lineMode(keys), before);
        ::close(keys);
        ::close(terminal);

        unit.setInput(-1);
        unit.start();
        Client again(unit.port());
        EXPECT_EQ(valueOf(again, "root\\sys\\alias"), "\"" + alias + "\"");
        EXPECT_EQ(valueOf(again, "root\\app\\output\\vol"), volume + ".000000");
    }
}

// Two programs on one stored-data folder would each overwrite the other's files and take the other's
// panel pipe: the second one names the process holding the folder and ends (within the time-out);
// the first keeps its pipe. A killed program leaves the folder free for the next start at once.
TEST(HostStart, ASecondProgramOnAFolderInUseDoesNotStart)
{
    Unit unit;
    unit.start();
    const std::string log = test_root() + "/second.log", port = std::to_string(free_port());
    const int status = std::system(
        ("KESTRUN_TCP_PORT=" + port + " timeout 20 " + program_command(KESTRUN_PROGRAM) + " > " + log + " 2>&1")
            .c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << read_file(log);
    EXPECT_EQ(occurrences(read_file(log), "ERROR (Main): " + test_root() + "/home/storage is in use by process " +
                                              std::to_string(unit.processId())),
              1u)
        << read_file(log);
    int pipe = ::open((test_root() + "/panel").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(::write(pipe, "click b\n", 8), 8);
    ::close(pipe);
    EXPECT_TRUE(unit.waitLog("I (Panel): click b", kWaitMs)) << unit.log();
    unit.kill();
    unit.start();
}

// Every wrong setting is said in one line with the variable, its value and what is done instead;
// a port another program holds is named with the reason, and the port taken at last is logged; a
// plain file where the panel pipe belongs is replaced by the pipe.
TEST(HostSettings, WrongSettingsAreSaidAndTheProgramGoesOn)
{
    struct Case {
        const char* name;
        std::string value;
        const char* instead;
    };
    std::vector<Case> cases = {
        {"KESTRUN_REALTIME", "yes", "normal priorities"},
        {"KESTRUN_AUDIO_IN", "noise", ": silence"},
        {"KESTRUN_AUDIO_OUT", "speaker", ": no output"},
        {"KESTRUN_AUDIO_PACE", "slow", ": real time"},
        {"KESTRUN_AUDIO_LOOP", "yes", "plays once"},
        {"KESTRUN_PANEL_KEYS", "2", "keys do not work"},
        {"KESTRUN_BT_ADDR", "zz", "all zero"},
    };
#if KESTRUN_HOST // the device build draws on a framebuffer only
    cases.push_back({"KESTRUN_SCREEN_PNG", test_root() + "/missing/screen.png", "no screen file is written"});
#endif
    for (const auto& c : cases) setenv(c.name, c.value.c_str(), 1);
    write_file(test_root() + "/panel", "click a\n");
    Unit unit;
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(uint16_t(unit.port())), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address) | ::listen(holder, 1), 0);
    unit.start();
    for (const auto& c : cases) unsetenv(c.name);

    const std::string port = std::to_string(unit.port());
    EXPECT_TRUE(unit.waitLog("unable to bind: errno 98 (port " + port + ": Address already in use)", kWaitMs));
    ::close(holder);
    EXPECT_TRUE(unit.waitLog("I (Wifi): Listening on TCP port " + port + " (loopback only)", kWaitMs));
    EXPECT_TRUE(unit.waitLog("replaced by the pipe", kWaitMs));
    int pipe = ::open((test_root() + "/panel").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(::write(pipe, "click b\n", 8), 8) << "not a pipe the program reads";
    ::close(pipe);
    EXPECT_TRUE(unit.waitLog("I (Panel): click b", kWaitMs)) << unit.log();

    const std::string log = unit.log();
    for (const auto& c : cases) {
        const size_t at = log.find(std::string(c.name) + "=\"" + c.value + "\"");
        ASSERT_NE(at, std::string::npos) << c.name << log;
        const size_t start = log.rfind('\n', at) + 1;
        const std::string line = log.substr(start, log.find('\n', at) - start);
        EXPECT_EQ(line.rfind("W (", 0), 0u) << line;
        EXPECT_NE(line.find(c.instead), std::string::npos) << line;
        EXPECT_EQ(log.find(c.name, log.find('\n', at)), std::string::npos) << "said once: " << c.name;
    }
}

} // namespace
