#include "porting/Nvs.h"

#include "support/TempRoot.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

namespace {
std::string storeDir()
{
    return test_root() + "/home/storage";
}

std::vector<std::string> files()
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(storeDir().c_str())) {
        while (dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t umask_now()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}
} // namespace

TEST(Nvs, EveryCallBeforeOpenReturnsOneAndTouchesNothing)
{
    char buffer[8];
    size_t size = sizeof buffer;
    EXPECT_EQ(nvs_get_blob(0, "k", buffer, &size), 1);
    EXPECT_EQ(nvs_get_str(0, "k", buffer, &size), 1);
    EXPECT_EQ(nvs_set_blob(0, "k", "x", 1), 1);
    EXPECT_EQ(nvs_set_str(0, "k", "x"), 1);
    struct stat st;
    EXPECT_NE(stat(storeDir().c_str(), &st), 0);
}

TEST(Nvs, OpenCreatesTheFolderWritableByItsOwner)
{
    EXPECT_EQ(nvs_flash_init(), 0);
    EXPECT_EQ(nvs_open("storage", NVS_READWRITE, nullptr), 0);
    struct stat st;
    ASSERT_EQ(stat(storeDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(nvs_open("storage", NVS_READWRITE, nullptr), 0);
}

TEST(Nvs, BlobsShortFilesAreZeroFilledAndLongOnesRefused)
{
    ASSERT_EQ(nvs_open("storage", NVS_READWRITE, nullptr), 0);
    EXPECT_EQ(nvs_set_blob(0, "three", "abc", 3), 0);
    EXPECT_EQ(read_file(storeDir() + "/three"), "abc");

    char buffer[8];
    std::memset(buffer, 'z', sizeof buffer);
    size_t size = sizeof buffer;
    EXPECT_EQ(nvs_get_blob(0, "three", buffer, &size), 0);
    EXPECT_EQ(std::memcmp(buffer, "abc\0\0\0\0\0", 8), 0);
    EXPECT_EQ(size, 3u) << "the length of the file, so that a caller can tell a cut one";
    size = sizeof buffer;

    write_file(storeDir() + "/nine", "123456789");
    std::memset(buffer, 'z', sizeof buffer);
    StdoutCapture capture;
    EXPECT_EQ(nvs_get_blob(0, "nine", buffer, &size), -1);
    EXPECT_EQ(capture.text(), "ERROR (nvs_get_blob): st_size error " + storeDir() + "/nine 9 8\n");
    EXPECT_EQ(buffer[0], 'z') << "a refused read writes nothing";

    EXPECT_EQ(nvs_get_blob(0, "missing", buffer, &size), -1);
    EXPECT_EQ(nvs_get_blob(0, "three", nullptr, &size), 1);
}

TEST(Nvs, TextsKeepTheirNulAndTornOnesAreRefused)
{
    ASSERT_EQ(nvs_open("storage", NVS_READWRITE, nullptr), 0);
    EXPECT_EQ(nvs_set_str(0, "empty", ""), 0);
    EXPECT_EQ(read_file(storeDir() + "/empty"), std::string(1, '\0'));
    EXPECT_EQ(nvs_set_str(0, "alias", "Vornetide"), 0);
    EXPECT_EQ(read_file(storeDir() + "/alias"), std::string("Vornetide\0", 10));

    char buffer[64];
    size_t size = sizeof buffer;
    EXPECT_EQ(nvs_get_str(0, "alias", buffer, &size), 0);
    EXPECT_STREQ(buffer, "Vornetide");
    EXPECT_EQ(nvs_get_str(0, "alias", buffer, nullptr), 1);

    write_file(storeDir() + "/torn", "Vorn");
    write_file(storeDir() + "/zero", "");
    EXPECT_EQ(nvs_get_str(0, "torn", buffer, &size), -1);
    EXPECT_EQ(nvs_get_str(0, "zero", buffer, &size), -1);
}

TEST(Nvs, WritesReplaceTheWholeFileAndTemporariesDoNotOutliveAStart)
{
    // Left by writes that a kill cut short.
    ::mkdir((test_root() + "/home").c_str(), 0755);
    ::mkdir(storeDir().c_str(), 0755);
    write_file(storeDir() + "/12345678.4242.tmp", "half");
    write_file(storeDir() + "/1234567x.tmp", "");
    write_file(storeDir() + "/12345678", "kept");
    ASSERT_EQ(nvs_open("storage", NVS_READWRITE, nullptr), 0);
    EXPECT_EQ(files(), (std::vector<std::string>{"12345678"}));

    EXPECT_EQ(nvs_set_blob(0, "k", "longer value", 12), 0);
    EXPECT_EQ(nvs_set_blob(0, "k", "short", 5), 0);
    EXPECT_EQ(read_file(storeDir() + "/k"), "short");
    EXPECT_EQ(files(), (std::vector<std::string>{"12345678", "k"}));

    // Passwords are for the program's user alone, also over a file that was open to all.
    auto mode = [](const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 0777;
    };
    EXPECT_EQ(nvs_set_secret_str(0, "k", "secret"), 0);
    EXPECT_EQ(read_file(storeDir() + "/k"), std::string("secret\0", 7));
    EXPECT_EQ(mode(storeDir() + "/k"), 0600u);
    EXPECT_EQ(nvs_set_str(0, "k", "open"), 0);
    EXPECT_EQ(mode(storeDir() + "/k"), 0666u & ~mode_t(umask_now()));
}

TEST(Nvs, OpenFailsWhereTheFolderCannotBeMade)
{
    ::mkdir((test_root() + "/home").c_str(), 0755);
    write_file(test_root() + "/home/blocked", "a file, not a folder");
    EXPECT_EQ(nvs_open("blocked/sub", NVS_READWRITE, nullptr), 1);
    EXPECT_EQ(nvs_set_str(0, "k", "x"), 1);
}
