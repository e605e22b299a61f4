// Every command of the repository a user may start (run.sh, test.sh, the tools of scripts/) answers -h
// and --help with its usage and nothing else: no package check, no build, no program started.
#include "Unit.h"

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

TEST(ToolHelp, EveryCommandPrintsItsUsageAndDoesNothingElse)
{
    const std::string repository = KESTRUN_TESTS_DIR "/..", calls = test_root() + "/calls";
    // What the commands run before anything else, first in PATH: each call is recorded. A program that
    // starts all the same finds the test's root and a port of its own, and is stopped by the time-out.
    const std::string fakes = make_temp_dir("fakes");
    for (const char* name : {"apt-get", "dpkg-query", "cmake", "ctest", "ninja", "clang", "qemu-aarch64"}) {
        write_file(fakes + "/" + name, "#!/bin/sh\necho \"$0 $*\" >> " + calls + "\n");
        ::chmod((fakes + "/" + name).c_str(), 0755);
    }
    std::vector<std::string> commands = {"run.sh", "test.sh"};
    for (const auto& entry : std::filesystem::directory_iterator(repository + "/scripts")) {
        const std::string extension = entry.path().extension();
        if (extension == ".sh" || extension == ".py") commands.push_back("scripts/" + entry.path().filename().string());
    }
    std::sort(commands.begin(), commands.end());
    ASSERT_GE(commands.size(), 10u);

    for (const std::string& command : commands) {
        for (const char* option : {"--help", "-h"}) {
            const std::string what = command + " " + option;
            // Started from another folder, as a user may.
            const std::string line = "cd " + test_root() + " && PATH=" + fakes +
                                     ":$PATH KESTRUN_TCP_PORT=" + std::to_string(free_port()) + " timeout 30 " +
                                     repository + "/" + what + " 2>&1";
            FILE* pipe = ::popen(line.c_str(), "r");
            std::string output;
            char buffer[4096];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
            const int status = ::pclose(pipe);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << ": " << status << "\n" << output;
            std::transform(output.begin(), output.end(), output.begin(), ::tolower);
            EXPECT_NE(output.find("usage:"), std::string::npos) << what << "\n" << output;
            EXPECT_EQ(read_file(calls), "") << what;
            ::unlink(calls.c_str());
        }
    }
}
