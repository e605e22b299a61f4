// The launcher decision, driven by scripted shell replies, and the image upload.
#include "base/Update.h"
#include "platform/Paths.h"
#include "platform/model/ShellScript.h"
#include "support/TempRoot.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

void freshLauncher()
{
    Update::initialized = false;
    Update::recovery = false;
    Update::enabled = false;
    unsetenv("APP_CALLED");
    ShellScript::reset();
}

std::string hexOf(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string imageBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 7 + i / 256) & 0xff);
    return bytes;
}

} // namespace

TEST(Update, LauncherDecision)
{
    const std::string image = Paths::map("/home/app_run");
    struct Case {
        const char* name;
        bool appCalled;
        int exitCode; // of "gpioget 0 40"; 1000 = no rule
        const char* output;
        bool recovery;
        bool runsImage;
        const char* log;
    } cases[] = {
        {"launched child", true, 0, "1\n", false, false, "I (Update): initialized\nI (Update): Started main app\n"},
        {"line high", false, 0, "1\n", true, true, "I (Update): initialized\nI (Update): running update app\n"},
        {"line low", false, 0, "0\n", true, false, "I (Update): initialized\nI (Update): running update app\n"},
        {"no line", false, 1000, "", false, false, "I (Update): initialized\n"},
        {"tool missing", false, -1, "", false, false, "I (Update): initialized\n"},
        {"tool fails", false, 1, "", false, false, "I (Update): initialized\n"},
    };
    for (const auto& c : cases) {
        freshLauncher();
        if (c.appCalled) setenv("APP_CALLED", "1", 1);
        if (c.exitCode != 1000) ShellScript::add("gpioget 0 40", c.exitCode, c.output);
        StdoutCapture out;
        Update::initialize();
        EXPECT_EQ(out.text(), c.log) << c.name;
        EXPECT_TRUE(Update::isEnabled()) << c.name;
        EXPECT_EQ(Update::isRecovery(), c.recovery) << c.name;
        std::string log = ShellScript::log();
        EXPECT_EQ(log.find(image) != std::string::npos, c.runsImage) << c.name << ": " << log;
        EXPECT_EQ(log.find("gpioget 0 40") != std::string::npos, !c.appCalled) << c.name;
        // Whatever it starts from here knows that it was launched.
        const char* env = std::getenv("APP_CALLED");
        EXPECT_EQ(env != nullptr, c.appCalled || c.recovery) << c.name;
        if (c.runsImage) {
            EXPECT_LT(log.find("gpioget 0 40"), log.find(image));
            EXPECT_STREQ(env, "1");
        }
    }
}

TEST(Update, UploadInChunksWritesTheImage)
{
    ShellScript::add("gpioget 0 40", 0, "0\n");
    const std::string bytes = imageBytes(5000);
    const std::string hex = hexOf(bytes);
    const std::string image = Paths::map("/home/app_run");
    write_file(image, "old image");
    StdoutCapture out;
    EXPECT_EQ(Update::update_start("5000"), "2048");
    EXPECT_EQ(Update::update_data(hex.substr(0, 4096)), "2048");
    EXPECT_EQ(Update::update_data(hex.substr(4096, 4095)), "2048"); // odd: nothing taken
    EXPECT_EQ(read_file(image), "old image");
    EXPECT_EQ(Update::update_data(hex.substr(4096, 4096)), "4096");
    EXPECT_EQ(Update::update_data(hex.substr(8192, 1808)), "5000");
    EXPECT_EQ(read_file(image), bytes);
    struct stat info {};
    ASSERT_EQ(stat(image.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    std::string log = out.text();
    EXPECT_NE(log.find("I (Update): start: 5000\n"), std::string::npos);
    EXPECT_NE(log.find("I (Update): done 5000 bytes\n"), std::string::npos);
    // The transfer is closed now.
    EXPECT_EQ(Update::update_data("00"), "0");
}

TEST(Update, ChunksLargerThanABatchAreCut)
{
    EXPECT_EQ(Update::update_start("3000"), "2048");
    EXPECT_EQ(Update::update_data(std::string(6000, 'A')), "2048");
    EXPECT_EQ(Update::update_data(std::string(6000, 'a')), "3000");
    std::string written = read_file(Paths::map("/home/app_run"));
    ASSERT_EQ(written.size(), 3000u);
    EXPECT_EQ(written.find_first_not_of('\xaa'), std::string::npos);
}

TEST(Update, OddPairsAndMissingTransfers)
{
    StdoutCapture out;
    EXPECT_EQ(Update::update_data("0011"), "0"); // nothing announced
    EXPECT_EQ(Update::update_start("0"), "2048");
    EXPECT_EQ(Update::update_data("00"), "0"); // a zero-byte transfer takes nothing
    EXPECT_EQ(Update::update_start("abc"), "0"); // no size: no transfer
    EXPECT_EQ(Update::update_data("00"), "0");
    std::string log = out.text();
    size_t failures = 0;
    for (size_t at = log.find("ERROR (Update): failed\n"); at != std::string::npos;
         at = log.find("ERROR (Update): failed\n", at + 1))
        ++failures;
    EXPECT_EQ(failures, 3u);

    // Pairs that are not hexadecimal keep their leading digit.
    EXPECT_EQ(Update::update_start("4"), "2048");
    EXPECT_EQ(Update::update_data("G11GzzFf"), "4");
    EXPECT_EQ(read_file(Paths::map("/home/app_run")), std::string("\x00\x01\x00\xff", 4));
}

TEST(Update, OversizedAnnouncementOpensNoTransfer)
{
    for (const std::string& size :
         {std::to_string(Update::kMaxImageBytes + 1), std::string("99999999999999999999999")}) {
        StdoutCapture out;
        EXPECT_EQ(Update::update_start(size), "0") << "refused in the first reply";
        EXPECT_EQ(Update::update_data("0011"), "0");
        std::string log = out.text();
        EXPECT_NE(log.find("ERROR (Update): image too large"), std::string::npos) << size;
        EXPECT_NE(log.find("ERROR (Update): failed\n"), std::string::npos) << size;
    }
    EXPECT_EQ(Update::update_bytes, 0);
    EXPECT_EQ(Update::update_handle, nullptr);
}

TEST(Update, FailedWriteKeepsTheOldImage)
{
    const std::string image = Paths::map("/home/app_run");
    write_file(image, "old image");
    // Something that cannot be opened as a file sits where the new image is prepared.
    ASSERT_EQ(mkdir((image + ".new").c_str(), 0755), 0);
    StdoutCapture out;
    EXPECT_EQ(Update::update_start("2"), "2048");
    EXPECT_EQ(Update::update_data("abcd"), "0");
    EXPECT_EQ(read_file(image), "old image");
    // Until a new start, further data fails and tells how far the transfer got.
    EXPECT_EQ(Update::update_data("abcd"), "2");
    std::string log = out.text();
    EXPECT_NE(log.find("ERROR (Update): error opening file\n"), std::string::npos);
    EXPECT_EQ(log.find("done"), std::string::npos);
}
