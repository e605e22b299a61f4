// Test main: gives the process a fresh root folder before any test (and any static of the code under
// test) looks at it, and removes it afterwards unless KESTRUN_KEEP_ROOT is set. On either target, and
// on the unit too, no shell command is run (they are recorded) and the device nodes are the models.
// When several tests share the process, each one finds the root empty, the environment and the
// modules as they were, and no thread of an earlier test, as in a process of its own.
#include "platform/DeviceNodes.h"
#include "platform/Shell.h"
#include "platform/model/ModelNodes.h"
#include "porting/Task.h"
#include "support/ResetHooks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> environment()
{
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) variables.emplace_back(*entry);
    return variables;
}

class FreshStart : public testing::EmptyTestEventListener {
public:
    explicit FreshStart(std::string root) : root_(std::move(root)), environment_(environment()) {}
    // Everything is put back when the next test starts, not when a test ends: a program that runs one
    // test keeps its modules, threads and files as they were (reachable for the leak checker, and
    // the root for KESTRUN_KEEP_ROOT).
    void OnTestStart(const testing::TestInfo&) override
    {
        if (!previous_.empty()) putBack();
    }
    void OnTestEnd(const testing::TestInfo& test) override
    {
        previous_ = std::string(test.test_suite_name()) + "." + test.name();
    }

private:
    void putBack()
    {
        // The threads end first, so that nothing runs while the modules are put back.
        if (!task_end_all(10000000)) {
            std::fprintf(stderr, "%s: its threads did not end within 10 s\n", previous_.c_str());
            std::_Exit(4);
        }
        run_reset_hooks();
        // The variables a test set (audio files, ports, addresses, launcher marks) go with it.
        if (environment() != environment_) {
            clearenv();
            for (const std::string& variable : environment_) {
                size_t equals = variable.find('=');
                setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
            }
        }
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(root_, error))
            std::filesystem::remove_all(entry.path(), error);
    }

    std::string root_;
    std::vector<std::string> environment_;
    std::string previous_;
};

} // namespace

int main(int argc, char** argv)
{
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string root = base + "/kestrun-test.XXXXXX";
    if (!mkdtemp(root.data())) return 2;
    setenv("KESTRUN_ROOT", root.c_str(), 1);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Shell::recordOnly();
    DeviceNodes::install(&ModelNodes::instance());

    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshStart(root));
    int result = RUN_ALL_TESTS();
    if (!std::getenv("KESTRUN_KEEP_ROOT")) {
        // The last test's threads still run (see above) and may be writing a file below the root
        // while it goes: try again for a while. A root that stays is reported, not a failed test.
        std::error_code error;
        for (int attempt = 0; attempt < 50; ++attempt) {
            std::filesystem::remove_all(root, error);
            if (!error) break;
            usleep(20000);
        }
        if (error) std::fprintf(stderr, "cannot remove %s: %s\n", root.c_str(), error.message().c_str());
    }
    return result;
}
