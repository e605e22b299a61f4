// Test main: gives the process a fresh root folder before any test (and any static of the code under
// test) looks at it, and removes it afterwards unless KESTRUN_KEEP_ROOT is set. On either target, and
// on the unit too, no shell command is run (they are recorded) and the device nodes are the models.
#include "platform/DeviceNodes.h"
#include "platform/Shell.h"
#include "platform/model/ModelNodes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

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
    int result = RUN_ALL_TESTS();
    if (!std::getenv("KESTRUN_KEEP_ROOT")) {
        std::string command = "rm -rf '" + root + "'";
        if (std::system(command.c_str()) != 0) return result ? result : 3;
    }
    return result;
}
