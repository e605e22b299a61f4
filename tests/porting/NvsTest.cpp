#include "porting/Nvs.h"

#include "support/TempRoot.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {
std::string storeDir()
{
    return test_root() + "/home/storage";
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
    EXPECT_EQ(size, 8u);

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

TEST(Nvs, WritesReplaceTheWholeFileAndLeaveNoTemporary)
{
    ASSERT_EQ(nvs_open("storage", NVS_READWRITE, nullptr), 0);
    EXPECT_EQ(nvs_set_blob(0, "k", "longer value", 12), 0);
    EXPECT_EQ(nvs_set_blob(0, "k", "short", 5), 0);
    EXPECT_EQ(read_file(storeDir() + "/k"), "short");
    struct stat st;
    EXPECT_NE(stat((storeDir() + "/k.tmp").c_str(), &st), 0);
}

TEST(Nvs, OpenFailsWhereTheFolderCannotBeMade)
{
    ::mkdir((test_root() + "/home").c_str(), 0755);
    write_file(test_root() + "/home/blocked", "a file, not a folder");
    EXPECT_EQ(nvs_open("blocked/sub", NVS_READWRITE, nullptr), 1);
    EXPECT_EQ(nvs_set_str(0, "k", "x"), 1);
}
