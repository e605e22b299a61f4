// Item, password and colour nodes.
#include "params/NodeItem.h"
#include "params/NodeColor.h"
#include "params/NodePassword.h"
#include "params/Storage.h"
#include "support/TempRoot.h"

#include "KeepNode.h"

#include <gtest/gtest.h>
#include <thread>

namespace {
int calls = 0;
void count(Node*)
{
    ++calls;
}
} // namespace

TEST(NodeItem, QuotedTextSetsAnyValueOnce)
{
    auto* node = keep(new NodeItem(nullptr, "alias", "Alias", "x", ItemType::STRING));
    node->setOnChange(count);
    struct Case {
        const char* text;
        bool result;
        const char* value;
    } cases[] = {{"\"\"", true, ""},
                 {"\"\"", false, ""},
                 {"abc", false, ""},
                 {"\"", false, ""},
                 {"\"a b\"", true, "a b"},
                 {"\"a\\\"b\\\\c\\n\"", true, "a\"b\\c\n"},
                 // A JSON string, or nothing: a raw inner quote is refused.
                 {"\"a\"b\"", false, "a\"b\\c\n"},
                 // Storage keeps a text up to a NUL: one holding a NUL would come back cut.
                 {"\"a\\u0000b\"", false, "a\"b\\c\n"}};
    for (const auto& c : cases) {
        EXPECT_EQ(node->fromString(c.text), c.result) << c.text;
        EXPECT_EQ(node->getValue(), c.value);
    }
    calls = 0;
    node->reset();
    node->reset();
    EXPECT_EQ(node->toString(), "x");
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(node->setValue("x"));
    EXPECT_EQ(node->getValueJSON(), "\"value\":\"x\"");
    node->setValue("q\"\\\x01");
    EXPECT_EQ(node->getValueJSON(), "\"value\":\"q\\\"\\\\\\u0001\"");
    EXPECT_EQ(node->getDescription(), ",\"item_type\":\"string\",\"def\":\"x\"");
}

TEST(NodeItem, PasswordNeverLeavesInJson)
{
    auto* root = keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM));
    auto* pwd = new NodePassword(root, "pwd", "Password", "", ItemType::STRING);
    EXPECT_TRUE(pwd->fromString("\"secret\""));
    EXPECT_EQ(pwd->getValueJSON(), "\"value\":\"\"");
    EXPECT_EQ(pwd->toString(), "secret");
    EXPECT_EQ(pwd->getText(), "secret");
    EXPECT_EQ(pwd->getJSON(DESCRIPTION_FULL),
              "root\\pwd:{\"desc\":\"Password\",\"value\":\"\",\"type\":\"item\",\"item_type\":\"string\","
              "\"def\":\"\"}");
    // Storage keeps the real password.
    Storage::addItem(pwd);
    EXPECT_EQ(read_file(test_root() + "/home/storage/" + pwd->getStorageId()), std::string("secret") + '\0');
}

TEST(NodeItem, TextsAreLimitedToWhatStorageGivesBack)
{
    const std::string longest(NodeItem::kMaxLength, 'x');
    auto* before = new NodeItem(keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM)), "alias", "Alias", "",
                                ItemType::STRING);
    Storage::addItem(before);
    EXPECT_TRUE(before->setValue(longest));
    EXPECT_FALSE(before->setValue(longest + "y"));
    EXPECT_FALSE(before->fromString("\"" + longest + "y\""));
    EXPECT_EQ(before->getText(), longest);
    before->storeStorage();
    // As after a restart: the same item loads the longest text whole.
    auto* after = new NodeItem(keep(new NodeItem(nullptr, "root", "", "", ItemType::SYSTEM)), "alias", "Alias", "",
                               ItemType::STRING);
    Storage::addItem(after);
    EXPECT_EQ(after->getText(), longest);
}

TEST(NodeItem, ReadersNeverSeeATornText)
{
    auto* node = keep(new NodeItem(nullptr, "n", "N", "", ItemType::STRING));
    const std::string a(200, 'a'), b(300, 'b');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) node->setValue(i % 2 ? a : b);
        stop = true;
    });
    int bad = 0;
    while (!stop) {
        std::string seen = node->getValue();
        if (!seen.empty() && seen != a && seen != b) ++bad;
    }
    writer.join();
    EXPECT_EQ(bad, 0);
}

TEST(NodeColor, HueAndKnob)
{
    auto* color = keep(new NodeColor(nullptr, "c", "Colour", "ff0000"));
    color->setOnChange(count);
    EXPECT_EQ(color->getHue(), 0.0f);
    EXPECT_EQ(color->getR(), 255);
    color->edit(true);
    EXPECT_EQ(color->getText(), "ff1500");
    color->setValue("ff0000");
    calls = 0;
    color->edit(false);
    EXPECT_EQ(color->getText(), "ff0000");
    EXPECT_EQ(calls, 0);

    struct Case {
        float hue;
        const char* rgb;
    } cases[] = {{0, "ff0000"}, {120, "00ff00"}, {240, "0000ff"}, {60, "ffff00"}, {-10, "ff0000"}, {400, "ff0000"}};
    for (const auto& c : cases) {
        color->hueToS100L50(c.hue);
        EXPECT_EQ(color->getText(), c.rgb) << c.hue;
    }
    color->setValue("00ff00");
    EXPECT_NEAR(color->getHue(), 120.0f, 1e-3f);
    color->setValue("ff00ff");
    EXPECT_NEAR(color->getHue(), 300.0f, 1e-3f);
    color->setValue("ff0001"); // just below a full turn
    EXPECT_GT(color->getHue(), 359.0f);
    EXPECT_LT(color->getHue(), 360.0f);
    color->edit(true); // past 354 the knob stops at hue 359
    EXPECT_EQ(color->getText(), "ff0004");
}

TEST(NodeColor, GreyAndMalformedValues)
{
    auto* grey = keep(new NodeColor(nullptr, "c", "Colour", "808080"));
    StdoutCapture out;
    EXPECT_EQ(grey->getHue(), 0.0f);
    auto* bad = keep(new NodeColor(nullptr, "d", "Colour", "zz0000"));
    EXPECT_EQ(bad->getHue(), 0.0f);
    EXPECT_EQ(bad->getR(), 0);
    EXPECT_EQ(bad->getG(), 0);
    EXPECT_EQ(out.text(), "ERROR (NodeColor): Wrong format zz0000\n");
}
