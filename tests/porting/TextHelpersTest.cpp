#include "porting/TextHelpers.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

TEST(TextHelpers, TryParseIntAcceptsOnlyANumberFollowedByItsTerminator)
{
    struct Case {
        const char* text;
        char terminator;
        int length;
        int value;
    };
    const Case cases[] = {
        {"12,", ',', 2, 12},
        {"12]", ',', 0, -1},
        {"-5]", ']', 2, -5},
        {"-,", ',', 0, -1},
        {"x1,", ',', 0, -1},
        {"2147483647,", ',', 10, 2147483647},
        {"2147483648,", ',', 0, -1},
        {"-2147483648]", ']', 11, -2147483647 - 1},
        {"99999999999999999999,", ',', 0, -1},
        {"0]", ']', 1, 0},
        {"", ',', 0, -1},
    };
    for (const Case& c : cases) {
        int out = -1;
        EXPECT_EQ(tryParseInt(c.text, &out, c.terminator), c.length) << c.text;
        EXPECT_EQ(out, c.value) << c.text;
    }
}

TEST(TextHelpers, ReplaceCountEscapeAndFloatValidity)
{
    EXPECT_EQ(ReplaceString("a\\b\\c", "\\", "\\\\"), "a\\\\b\\\\c");
    EXPECT_EQ(ReplaceString("aaa", "a", "aa"), "aaaaaa") << "a replacement is never searched again";
    EXPECT_EQ(ReplaceString("abc", "", "x"), "abc");
    EXPECT_EQ(count("a,b,,c", ','), 3);
    EXPECT_EQ(escape_sh("it's"), "it'\\''s");
    EXPECT_TRUE(valid_float(1e38f));
    EXPECT_TRUE(valid_float(-0.0f));
    EXPECT_FALSE(valid_float(std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(valid_float(-std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(valid_float(std::nanf("")));
}

TEST(TextHelpers, LogExcerptIsOneShortLine)
{
    const std::string longest(kLogExcerpt, 'a');
    const struct {
        const char* what;
        std::string text;
        std::string excerpt;
    } cases[] = {
        {"short, as it is", "Lead \"2\" caf\xc3\xa9", "Lead \"2\" caf\xc3\xa9"},
        {"control characters escaped", std::string("a\nb\0c\x1b[2J\x7f", 10), "a\\x0ab\\x00c\\x1b[2J\\x7f"},
        {"exactly the excerpt", longest, longest},
        {"longer: cut, with its length", longest + "bbb", longest + "... (51 bytes)"},
    };
    for (const auto& c : cases) EXPECT_EQ(log_excerpt(c.text), c.excerpt) << c.what;
}

TEST(TextHelpers, RecordsNestAndReadBack)
{
    std::vector<uint8_t> buffer;
    size_t outer = serialize(buffer, 7, "outer", nullptr, 0);
    serialize_internal(buffer, {outer}, 8, "first", "abc", 3);
    serialize_internal(buffer, {outer}, 9, "second", "defgh", 5);
    size_t after = serialize(buffer, 10, "after", "z", 1);
    EXPECT_EQ(serialize(buffer, 1, "a name that is far too long", nullptr, 0), SIZE_MAX);

    SerialRecord r;
    ASSERT_TRUE(deserialize(buffer.data(), buffer.size(), r));
    EXPECT_TRUE(serialization_check(r, "outer", 7));
    EXPECT_FALSE(serialization_check(r, "outer", 8));
    EXPECT_EQ((r.offset + r.length + 3) & ~size_t(3), after) << "the outer record ends with its last inner record";

    SerialRecord inner;
    ASSERT_TRUE(deserialize(r.data, r.dataSize, inner));
    EXPECT_TRUE(serialization_check(inner, "first", 8));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(inner.data), inner.dataSize), "abc");
    ASSERT_TRUE(deserialize_next(r.data, r.dataSize, inner));
    EXPECT_TRUE(serialization_check(inner, "second", 9));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(inner.data), inner.dataSize), "defgh");
    EXPECT_FALSE(deserialize_next(r.data, r.dataSize, inner));

    ASSERT_TRUE(deserialize_next(buffer.data(), buffer.size(), r));
    EXPECT_TRUE(serialization_check(r, "after", 10));
    EXPECT_FALSE(deserialize(buffer.data(), 11, r)) << "shorter than a header";
}

TEST(TextHelpers, ScrambleTwiceRestores)
{
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = uint8_t(i * 7 + 3);
    std::vector<uint8_t> data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    auto original = data;
    serialization_scramble(data.data(), data.size(), key);
    EXPECT_NE(data, original);
    EXPECT_EQ(data[1], uint8_t(1 ^ uint8_t(key[1] - 17)));
    serialization_scramble(data.data(), data.size(), key);
    EXPECT_EQ(data, original);
}
