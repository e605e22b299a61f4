// Login hash, tokens and answer checks.
#include "params/Security.h"
#include "params/NodeItem.h"
#include "params/NodePassword.h"
#include "params/Storage.h"
#include "params/StorageId.h"
#include "support/TempRoot.h"

#include "KeepNode.h"
#include <cctype>
#include <cstdlib>

#include <gtest/gtest.h>

namespace {

// Hashes computed with an independent implementation of the login hash (a client's view).
struct Vector {
    const char* input;
    const char* hash;
} const vectors[] = {
    {"", "444C8918FAFED768"},
    {"secret0123456789ABCDEF", "8CC177FEB3E9378E"},
};

std::string lower(std::string text)
{
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

NodeItem* systemNode()
{
    auto* root = keep(new NodeItem(nullptr, "root", "", "", "system"));
    return new NodeItem(root, "sys", "System", "", "system");
}

} // namespace

TEST(Security, HashMatchesTheClientsAndIsSixteenUpperHexDigits)
{
    for (const auto& v : vectors) EXPECT_EQ(Security::generateHash(v.input), v.hash) << v.input;
    for (const std::string& input : {std::string(), std::string(300, 'x'), std::string("\xff\x80", 2)}) {
        std::string hash = Security::generateHash(input);
        ASSERT_EQ(hash.size(), 16u);
        for (char c : hash) EXPECT_TRUE(std::isdigit(c) || (c >= 'A' && c <= 'F')) << hash;
    }
    EXPECT_EQ(Security::generateHash(std::string(300, 'x')), "4AE7ABA895642FA3");
}

TEST(Security, TokensAreRandomHex)
{
    std::string a = Security::generateToken(), b = Security::generateToken();
    EXPECT_EQ(a.size(), 16u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

TEST(Security, WithoutPasswordEverythingPasses)
{
    EXPECT_TRUE(Security::checkToken("", "")); // not initialised yet
    Security::initialize(systemNode());
    EXPECT_FALSE(Security::hasPassword());
    EXPECT_TRUE(Security::checkToken("0123456789ABCDEF", ""));
    EXPECT_TRUE(Security::checkToken("", "anything"));
    EXPECT_EQ(Security::password->getPath(), "root\\sys\\pwd");
    EXPECT_STREQ(Security::password->getDisplayName(), "Password");
}

TEST(Security, PasswordAnswersAreCheckedExactly)
{
    Security::initialize(systemNode());
    Security::password->setValue("secret");
    EXPECT_TRUE(Security::hasPassword());
    const std::string token = "0123456789ABCDEF";
    const std::string good = Security::generateHash("secret" + token);
    EXPECT_EQ(good, "8CC177FEB3E9378E");
    struct Case {
        std::string token;
        std::string response;
        bool accepted;
    } cases[] = {
        {token, good, true},
        {token, lower(good), false},
        {token, "", false},
        {"FEDCBA9876543210", good, false}, // the answer belongs to another token
        {"", Security::generateHash("secret"), false},
        {"", "", false},
    };
    for (const auto& c : cases) EXPECT_EQ(Security::checkToken(c.token, c.response), c.accepted) << c.response;
    // The JSON never shows the password; the check uses the real one.
    EXPECT_EQ(Security::password->getValueJSON(), "\"value\":\"\"");
}

TEST(Security, ADamagedPasswordLocksUntilOneIsSetOnTheUnit)
{
    Storage::open();
    const std::string file = test_root() + "/home/storage/" + make_storage_id("root\\sys\\pwd");
    write_file(file, "secr"); // "secret" cut before its end
    Security::initialize(systemNode());
    const std::string token = "0123456789ABCDEF";
    for (const char* guess : {"", "secr", "secret"})
        EXPECT_FALSE(Security::checkToken(token, Security::generateHash(guess + token))) << guess;
    EXPECT_TRUE(Security::hasPassword());
    Security::password->setValue("fresh"); // what the setup screen's keyboard does
    EXPECT_TRUE(Security::checkToken(token, Security::generateHash("fresh" + token)));
    EXPECT_EQ(read_file(file), "secr") << "left as it was until then";
    for (int i = 0; i < 200; ++i) Storage::tasks();
    EXPECT_EQ(read_file(file), std::string("fresh", 6));
}

TEST(Security, DefaultPasswordComesFromTheAddressAndYieldsToTheUsers)
{
    unsetenv("KESTRUN_BT_ADDR");
    EXPECT_EQ(Security::getDefaultPassword(), "") << "no address: the same on every unit";
    setenv("KESTRUN_BT_ADDR", "AA:BB:CC:DD:EE:01", 1);
    Security::initialize(systemNode());
    EXPECT_EQ(Security::getDefaultPassword(), "7D2E4983D8E2E6A6");
    const std::string token = Security::generateToken();
    const std::string byDefault = Security::generateHash("7D2E4983D8E2E6A6" + token);
    // Anyone can compute it from the published address: once the user has a password, it is refused.
    Security::password->setValue("secret");
    EXPECT_FALSE(Security::checkToken(token, byDefault));
    EXPECT_TRUE(Security::checkToken(token, Security::generateHash("secret" + token)));
}
