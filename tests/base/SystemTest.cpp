// The system tree, in application and update mode, and the persisted alias across a restart.
#include "base/System.h"
#include "base/Update.h"
#include "params/NodeItem.h"
#include "params/Security.h"
#include "params/Storage.h"
#include "platform/Paths.h"
#include "platform/model/ShellScript.h"
#include "support/TempRoot.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

std::string childNames(Node* node)
{
    std::string names;
    for (Node* child : node->getChildren()) names += std::string(child->getName()) + " ";
    return names;
}

} // namespace

TEST(System, AccessorsBeforeInitialisationReportAndReturnNull)
{
    StdoutCapture out;
    EXPECT_EQ(System::rootNode(), nullptr);
    EXPECT_EQ(System::appNode(), nullptr);
    EXPECT_EQ(System::systemNode(), nullptr);
    EXPECT_EQ(System::getName(), "");
    EXPECT_EQ(out.text(),
              "ERROR (System): System must be initialized before using root node\n"
              "ERROR (System): System must be initialized before using app node\n"
              "ERROR (System): System must be initialized before using system node\n"
              "ERROR (System): System must be initialized before getting name\n");
}

TEST(System, ApplicationModeTree)
{
    System::initialize("ap0003");
    ASSERT_NE(System::rootNode(), nullptr);
    EXPECT_EQ(System::rootNode()->getPath(), "root");
    EXPECT_EQ(childNames(System::rootNode()), "app sys ");
    EXPECT_EQ(childNames(System::systemNode()), "_name alias _arch _author _ver _logo pwd ");
    EXPECT_EQ(System::upd, nullptr);
    EXPECT_FALSE(Update::isRecovery());
    EXPECT_EQ(System::getName(), "Quelm Device");
    EXPECT_EQ(System::appNode()->getPath(), "root\\app");
    EXPECT_EQ(System::rootNode()->getJSON(DESCRIPTION_VALUE, true),
              "root:{\"value\":\"\"}\r\nroot\\app:{\"value\":\"\"}\r\nroot\\sys:{\"value\":\"\"}\r\n"
              "root\\sys\\_name:{\"value\":\"Quelm Device\"}\r\nroot\\sys\\alias:{\"value\":\"\"}\r\n"
              "root\\sys\\_arch:{\"value\":\"CM4\"}\r\nroot\\sys\\_author:{\"value\":\"Quelm team\"}\r\n"
              "root\\sys\\_ver:{\"value\":\"1.0\"}\r\nroot\\sys\\_logo:{\"value\":\"\"}\r\n"
              "root\\sys\\pwd:{\"value\":\"\"}");
    EXPECT_EQ(System::alias->getStorageStatus(), Storable::kInSync);
    EXPECT_EQ(System::name->getStorageStatus(), Storable::kNeverLoaded);
    EXPECT_TRUE(Security::initilized);
    // Read-only keys stay read-only, the alias is writable.
    EXPECT_FALSE(System::rootNode()->parseJSON("root\\sys\\_name:{\"value\":\"x\"}"));
    EXPECT_TRUE(System::rootNode()->parseJSON("root\\sys\\alias:{\"value\":\"x\"}"));
}

TEST(System, UpdateModeAddsTheUpdateItem)
{
    ShellScript::add("gpioget 0 40", 0, "0\n");
    System::initialize("ap0003");
    EXPECT_TRUE(Update::isRecovery());
    EXPECT_EQ(childNames(System::systemNode()), "_name alias _arch _upd _author _ver _logo pwd ");
    ASSERT_NE(System::upd, nullptr);
    EXPECT_EQ(System::upd->getJSON(DESCRIPTION_FULL),
              "root\\sys\\_upd:{\"desc\":\"Update\",\"value\":\"upd\",\"type\":\"item\",\"item_type\":\"system\","
              "\"def\":\"upd\"}");
}

TEST(System, UpdateModeAfterTheInstalledApplicationEnded)
{
    ShellScript::add("gpioget 0 40", 0, "1\n");
    System::initialize("ap0003");
    EXPECT_NE(ShellScript::log().find(Paths::map("/home/app_run")), std::string::npos);
    EXPECT_STREQ(std::getenv("APP_CALLED"), "1");
    EXPECT_EQ(childNames(System::systemNode()), "_name alias _arch _upd _author _ver _logo pwd ");
    EXPECT_EQ(System::upd->getText(), "upd");
}

// First run: writes the alias the way the remote side does and lets the storage cycle persist it, then
// starts the program again (a new process of this test binary, on a copy of the stored files).
TEST(System, AliasSurvivesARestart)
{
    System::initialize("ap0003");
    ASSERT_TRUE(System::rootNode()->parseJSON("root\\sys\\alias:{\"value\":\"Stage left\"}"));
    for (int i = 0; i < 200; ++i) Storage::tasks();
    std::string stored = test_root() + "/home/storage/" + System::alias->getStorageId();
    ASSERT_EQ(read_file(stored), std::string("Stage left") + '\0');

    setenv("KESTRUN_PREVIOUS_ROOT", test_root().c_str(), 1);
    // Through the shell: in a cross build this binary runs under the emulator again.
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::string command = "exec " + program_command(self) + " --gtest_filter=System.AliasAfterRestart";
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), command.data(), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Second run of the test above; skipped when run on its own.
TEST(System, AliasAfterRestart)
{
    const char* previous = std::getenv("KESTRUN_PREVIOUS_ROOT");
    if (!previous) GTEST_SKIP() << "runs as the second half of AliasSurvivesARestart";
    std::string command = std::string("cp -r '") + previous + "/home' '" + test_root() + "/'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    System::initialize("ap0003");
    EXPECT_EQ(System::alias->getText(), "Stage left");
    EXPECT_EQ(System::alias->getValueJSON(), "\"value\":\"Stage left\"");
}
