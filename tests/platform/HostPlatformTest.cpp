#include "platform/AdapterAddress.h"
#include "platform/Paths.h"
#include "platform/PhysicalMemory.h"
#include "platform/Shell.h"
#include "platform/TcpEndpoint.h"
#include "platform/UnitBoard.h"
#include "platform/model/ShellScript.h"
#include "support/TempRoot.h"

#include <cstring>
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

// A wrong port is replaced by the unit's, and said once in a line with the variable and the value.
TEST(EnvSetting, WrongPortIsSaidOnceAndReplaced)
{
    const struct {
        const char* value;
        int port;
    } cases[] = {{"0", 8080}, {"70000", 8080}, {"abc", 8080}, {"9000x", 8080}, {"9000", 9000}};
    for (const auto& c : cases) {
        setenv("KESTRUN_TCP_PORT", c.value, 1);
        StdoutCapture out;
        EXPECT_EQ(TcpEndpoint::port(8080), c.port) << c.value;
        EXPECT_EQ(TcpEndpoint::port(8080), c.port) << c.value;
        const std::string said = c.port == 8080
                                     ? "W (Wifi): KESTRUN_TCP_PORT=\"" + std::string(c.value) +
                                           "\" is not a port number from 1 to 65535: listening on port 8080 instead\n"
                                     : "";
        EXPECT_EQ(out.text(), said);
    }
    unsetenv("KESTRUN_TCP_PORT");
}
