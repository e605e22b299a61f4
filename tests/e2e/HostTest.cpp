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
#include <termios.h>
#include <unistd.h>

namespace {

// Starting, stopping and storing take this long at most on a loaded machine.
constexpr int kWaitMs = 20000 * KESTRUN_PROGRAM_SLOWDOWN;

// Without Bluetooth (no bus), Ctrl-C and SIGTERM stop the program; a value written just before is
// stored, and a terminal the panel keys took is given back as it was.
TEST(HostStop, ValuesWrittenJustBeforeTheStopAreThereAfterTheRestart)
{
    const struct {
        const char* what;
        int signal;
        bool terminal;
    } cases[] = {{"Ctrl-C with the panel keys on a terminal", SIGINT, true}, {"SIGTERM", SIGTERM, false}};
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ++round;
        int terminal = -1, keys = -1;
        termios before {};
        if (c.terminal) {
            terminal = posix_openpt(O_RDWR | O_NOCTTY);
            ASSERT_GE(terminal, 0);
            ASSERT_EQ(grantpt(terminal) | unlockpt(terminal), 0);
            keys = ::open(ptsname(terminal), O_RDWR | O_NOCTTY);
            ASSERT_GE(keys, 0);
            ASSERT_EQ(tcgetattr(keys, &before), 0);
            ASSERT_TRUE(before.c_lflag & ICANON);
            setenv("KESTRUN_PANEL_KEYS", "1", 1);
        }
        Unit unit;
        unit.setInput(keys);
        unit.start();
        if (c.terminal) {
            ASSERT_TRUE(unit.waitLog("I (Panel): keys:", kWaitMs)) << unit.log();
            termios taken {};
            tcgetattr(keys, &taken);
            EXPECT_FALSE(taken.c_lflag & ICANON);
        }
        Client client(unit.port());
        const std::string alias = "stopped-" + std::to_string(round);
        const std::string volume = std::to_string(20 + round);
        client.ask("write root\\sys\\alias:{\"value\":\"" + alias + "\"}\r\nwrite root\\app\\output\\vol:{\"value\":" +
                   volume + "}");
        EXPECT_EQ(unit.stop(c.signal, kWaitMs), 0) << unit.log();
        EXPECT_NE(unit.log().find("I (Main): " + std::string(c.signal == SIGINT ? "SIGINT" : "SIGTERM")),
                  std::string::npos)
            << unit.log();
        if (c.terminal) {
            termios after {};
            tcgetattr(keys, &after);
            EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
            unsetenv("KESTRUN_PANEL_KEYS");
            unit.setInput(-1);
            ::close(keys);
            ::close(terminal);
        }

        unit.start();
        Client again(unit.port());
        EXPECT_EQ(valueOf(again, "root\\sys\\alias"), "\"" + alias + "\"");
        EXPECT_EQ(valueOf(again, "root\\app\\output\\vol"), volume + ".000000");
        unit.kill();
    }
}

// Every wrong setting is said in one line with the variable, its value and what is done instead;
// a port another program holds is named with the reason, and the port taken at last is logged.
TEST(HostSettings, WrongSettingsAreSaidAndTheProgramGoesOn)
{
    const struct {
        const char* what;
        const char* name;
        std::string value;
        const char* instead;
    } cases[] = {
        {"real time", "KESTRUN_REALTIME", "yes", "normal priorities"},
        {"audio input", "KESTRUN_AUDIO_IN", "noise", ": silence"},
        {"audio output", "KESTRUN_AUDIO_OUT", "speaker", ": no output"},
        {"pace", "KESTRUN_AUDIO_PACE", "slow", ": real time"},
        {"loop", "KESTRUN_AUDIO_LOOP", "yes", "plays once"},
        {"screen file", "KESTRUN_SCREEN_PNG", test_root() + "/missing/screen.png", "no screen file is written"},
        {"panel keys", "KESTRUN_PANEL_KEYS", "2", "the keys do not work the panel"},
        {"adapter address", "KESTRUN_BT_ADDR", "zz", "all zero"},
    };
    for (const auto& c : cases) setenv(c.name, c.value.c_str(), 1);
    // An "echo" into the panel pipe before the first start made a plain file of it.
    write_file(test_root() + "/panel", "click a\n");

    Unit unit;
    // Another program holds the port.
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(unit.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    unit.start();
    for (const auto& c : cases) unsetenv(c.name);

    const std::string port = std::to_string(unit.port());
    EXPECT_TRUE(unit.waitLog("Listen socket unable to bind: errno 98 (port " + port + ": Address already in use)",
                             kWaitMs))
        << unit.log();
    ::close(holder);
    EXPECT_TRUE(unit.waitLog("I (Wifi): Listening on TCP port " + port + " (loopback only)", kWaitMs)) << unit.log();

    EXPECT_TRUE(unit.waitLog("replaced by the pipe", kWaitMs)) << unit.log();
    int pipe = ::open((test_root() + "/panel").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(pipe, 0) << "not a pipe the program reads";
    ASSERT_EQ(::write(pipe, "click b\n", 8), 8);
    ::close(pipe);
    EXPECT_TRUE(unit.waitLog("I (Panel): click b", kWaitMs)) << unit.log();

    const std::string log = unit.log();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string named = std::string(c.name) + "=\"" + c.value + "\"";
        const size_t at = log.find(named);
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_EQ(log.find(named, at + 1), std::string::npos) << "said once";
        const std::string line = log.substr(log.rfind('\n', at) + 1, log.find('\n', at) - log.rfind('\n', at) - 1);
        EXPECT_EQ(line.rfind("W (", 0), 0u) << line;
        EXPECT_NE(line.find(c.instead), std::string::npos) << line;
    }
    // The program went on: it answers.
    Client client(unit.port());
    EXPECT_EQ(client.ask("browse root\\nothing"), Client::withNul("\r\n"));
}

} // namespace
