// Off the unit the program runs none of the unit's commands. In the device build this is the test
// that matters: the aarch64 program on a build machine (under the emulator) must not pin every
// process of the machine to one CPU, load modules or reconfigure its network and Bluetooth.
#include "Unit.h"

#include "platform/model/ShellScript.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

bool waitFor(const std::string& path, const std::string& text, int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (read_file(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

// Every program the unit's commands call is put first in the program's PATH as a fake that leaves a
// mark when it runs: had the program run a command, the fake would have marked it (and nothing of
// the machine's own would have run either).
TEST(Guard, NoUnitCommandRunsOnThisMachine)
{
    const std::string bin = make_temp_dir("fake-bin"), marks = test_root() + "/ran";
    for (const char* tool : {"gpioget", "gpioset", "taskset", "sudo", "bash", "modprobe", "nmcli", "systemctl",
                             "hcitool", "hciconfig", "btmgmt", "avahi-daemon"}) {
        std::string path = bin + "/" + tool;
        write_file(path, "#!/bin/sh\necho \"" + std::string(tool) + " $*\" >> '" + marks + "'\n");
        ASSERT_EQ(chmod(path.c_str(), 0755), 0);
    }
    setenv("PATH", (bin + ":" + std::getenv("PATH")).c_str(), 1);

    Unit unit;
    unit.start();
    // The launcher's and the board's start-up commands were reached, and recorded instead.
    EXPECT_TRUE(waitFor(ShellScript::logPath(), "sudo /bin/bash", 10000)) << ShellScript::log();
    const std::string shellLog = ShellScript::log();
    EXPECT_NE(shellLog.find("gpioget 0 40"), std::string::npos);
    EXPECT_NE(shellLog.find("gpioset 0 26=0"), std::string::npos);
    EXPECT_NE(shellLog.find("taskset -p 1"), std::string::npos);
    EXPECT_NE(shellLog.find("modprobe libcomposite"), std::string::npos);
#if KESTRUN_DEVICE
    EXPECT_TRUE(unit.waitLog("W (Shell): not on the unit: commands are recorded in", 1000)) << unit.log();
#endif
    // A while longer for the services' own commands (Bluetooth, Wi-Fi join), then nothing has run.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    unit.kill();
    EXPECT_EQ(read_file(marks), "");
}
