#include "platform/AdapterAddress.h"
#include "platform/Paths.h"
#include "platform/PhysicalMemory.h"
#include "platform/UnitBoard.h"
#include "platform/Scheduling.h"
#include "platform/Shell.h"
#include "platform/TcpEndpoint.h"
#include "platform/model/ShellScript.h"
#include "support/TempRoot.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

TEST(Paths, UnitPathsLiveBelowTheRootWithTheirParentFolders)
{
    EXPECT_EQ(Paths::root(), test_root());
    std::string mapped = Paths::map("/home/storage/abc");
    EXPECT_EQ(mapped, test_root() + "/home/storage/abc");
    struct stat st;
    EXPECT_EQ(stat((test_root() + "/home/storage").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_NE(stat(mapped.c_str(), &st), 0) << "only the parents are created";
}

TEST(Shell, RecordsEveryCommandAndPipedTextAndRunsNothing)
{
    std::string marker = test_root() + "/must-not-exist";
    EXPECT_EQ(Shell::system("touch " + marker), 0);
    std::string out = "x";
    EXPECT_TRUE(Shell::read("gpioget 0 40", out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(Shell::write("sudo /bin/bash", "echo one\necho two"), 0);

    struct stat st;
    EXPECT_NE(stat(marker.c_str(), &st), 0);
    EXPECT_EQ(ShellScript::log(), "touch " + marker + "\ngpioget 0 40\nsudo /bin/bash\necho one\necho two\n");
}

TEST(Shell, ScriptedRepliesFirstMatchingPrefixWins)
{
    ShellScript::add("gpioget 0 40", 0, "1\n");
    ShellScript::add("gpioget", 1, "ignored");
    ShellScript::add("nmcli -t", 0, "a\\b\tc\n");
    ShellScript::add("broken", -1, "");

    std::string out;
    int status = -5;
    EXPECT_TRUE(Shell::read("gpioget 0 40", out, &status));
    EXPECT_EQ(out, "1\n");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(Shell::read("gpioget 0 41", out, &status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(Shell::read("nmcli -t -f x", out));
    EXPECT_EQ(out, "a\\b\tc\n");
    EXPECT_FALSE(Shell::read("broken thing", out, &status));
    EXPECT_EQ(status, -1);
    EXPECT_EQ(Shell::system("broken"), -1);
    EXPECT_EQ(WEXITSTATUS(Shell::system("gpioget 9")), 1);
}

TEST(HostPlatform, NoPhysicalMemoryAndAddressFromTheEnvironment)
{
    EXPECT_EQ(PhysicalMemory::map(0xfe200000, 4096), nullptr);

    uint8_t address[6] = {1, 2, 3, 4, 5, 6};
    unsetenv("KESTRUN_BT_ADDR");
    EXPECT_FALSE(AdapterAddress::read(address));
    EXPECT_EQ(address[0] | address[1] | address[2] | address[3] | address[4] | address[5], 0);

    setenv("KESTRUN_BT_ADDR", "DC:A6:32:01:02:FF", 1);
    EXPECT_TRUE(AdapterAddress::read(address));
    const uint8_t expected[6] = {0xDC, 0xA6, 0x32, 0x01, 0x02, 0xFF};
    EXPECT_EQ(std::memcmp(address, expected, 6), 0);

    setenv("KESTRUN_BT_ADDR", "DC:A6:32:01:02", 1);
    EXPECT_FALSE(AdapterAddress::read(address));
}

// The unit is told by the model its device tree reports; other boards, the emulator of the cross build
// and build machines are not the unit, and this suite never runs on it.
TEST(UnitBoard, OnlyTheUnitsComputeModuleIsTheUnit)
{
    struct Case {
        const char* model;
        bool unit;
    } cases[] = {
        {"Raspberry Pi Compute Module 4 Rev 1.0", true},
        {"Raspberry Pi Compute Module 4 Rev 1.1", true},
        {"Raspberry Pi 4 Model B Rev 1.4", false},
        {"Raspberry Pi Compute Module 3 Plus Rev 1.0", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(UnitBoard::isUnitModel(c.model), c.unit) << c.model;
    EXPECT_FALSE(UnitBoard::detected());
}

// A wrong setting is replaced by what the program does without it, and said in one line that names
// the variable, the value and that replacement.
TEST(EnvSetting, WrongSettingsAreSaidOnceAndReplaced)
{
    struct Case {
        const char* what;
        const char* name;
        const char* value;
        std::function<std::string()> use;
        std::string expected;
        const char* instead; // null: no line
    } cases[] = {
        {"port 0", "KESTRUN_TCP_PORT", "0", [] { return std::to_string(TcpEndpoint::port(8080)); }, "8080",
         "listening on port 8080 instead"},
        {"port above 65535", "KESTRUN_TCP_PORT", "70000", [] { return std::to_string(TcpEndpoint::port(8080)); },
         "8080", "listening on port 8080 instead"},
        {"port not a number", "KESTRUN_TCP_PORT", "abc", [] { return std::to_string(TcpEndpoint::port(8080)); },
         "8080", "listening on port 8080 instead"},
        {"port with a tail", "KESTRUN_TCP_PORT", "9000x", [] { return std::to_string(TcpEndpoint::port(8080)); },
         "8080", "listening on port 8080 instead"},
        {"a good port", "KESTRUN_TCP_PORT", "9000", [] { return std::to_string(TcpEndpoint::port(8080)); }, "9000",
         nullptr},
        {"real time asked wrongly", "KESTRUN_REALTIME", "yes", [] { return std::to_string(Scheduling::unitRealtime()); },
         "0", "normal priorities"},
        {"real time off", "KESTRUN_REALTIME", "0", [] { return std::to_string(Scheduling::unitRealtime()); }, "0",
         nullptr},
        {"adapter address cut short", "KESTRUN_BT_ADDR", "DC:A6:32",
         [] {
             uint8_t address[6];
             return std::to_string(AdapterAddress::read(address));
         },
         "0", "the address is all zero"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setenv(c.name, c.value, 1);
        std::string text;
        for (int time = 0; time < 2; time++) {
            StdoutCapture out;
            EXPECT_EQ(c.use(), c.expected);
            text += out.text();
        }
        unsetenv(c.name);
        if (!c.instead) {
            EXPECT_EQ(text, "");
            continue;
        }
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "once: " << text;
        EXPECT_NE(text.find(std::string("W (")), std::string::npos) << text;
        EXPECT_NE(text.find(std::string(c.name) + "=\"" + c.value + "\""), std::string::npos) << text;
        EXPECT_NE(text.find(c.instead), std::string::npos) << text;
    }
}
