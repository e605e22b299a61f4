// Requests the running program refuses, as a client meets them over TCP: a "write" is echoed with what
// the node holds afterwards, a refused preset save says why in the log, and an image size that is no
// plain number opens no transfer. No client text reaches the log whole.
#include "Unit.h"

#include <gtest/gtest.h>

namespace {

const std::string kPreset = R"(root\app\preset:)";
const std::string kTempo = R"(root\app\output\pst\tmp:)";
const std::string kAlias = R"(root\sys\alias:)";

std::string save(const std::string& name)
{
    return kPreset + R"({"value":")" + name + R"(","save":"save"})";
}

// The tempo set to 125, then written with `value`: it takes its default (120) and must say so.
std::string tempoAfter(const std::string& value)
{
    return "write " + kTempo + R"({"value":125})" + "\r\nwrite " + kTempo + R"({"value":)" + value + "}";
}

} // namespace

TEST(RemoteRefusal, EchoShowsWhatTheNodeHoldsAndRefusalsAreLoggedBriefly)
{
    Unit unit;
    unit.startQuiet();
    const std::string heldTempo = kTempo + R"({"value":125})" + "\r\n" + kTempo + R"({"value":120.000000})" + "\r\n";
    struct Case {
        const char* what;
        std::string request;
        std::string reply;
        std::string log; // a line the request must add ("" for none)
    } cases[] = {
        {"a name too long to keep", "write " + save(std::string(32, 'n')), kPreset + R"({"value":""})" + "\r\n",
         "W (Preset): Not saved as \"" + std::string(32, 'n') + "\": name too long\n"},
        {"no name and nothing selected", "write " + save(""), kPreset + R"({"value":""})" + "\r\n",
         "W (Preset): Not saved as \"\": no name\n"},
        {"a name holding a quote", "write " + save(R"(a\"b)"), kPreset + R"({"value":""})" + "\r\n",
         "W (Preset): Not saved as \"a\"b\": name not allowed\n"},
        {"a saved name, as sent", "write " + save("first"), save("first") + "\r\n", ""},
        {"an absent preset clears the selection", "write " + kPreset + R"({"value":"Nope"})",
         kPreset + R"({"value":""})" + "\r\n", ""},
        {"an absent model keeps none", R"(write root\app\amp\model:{"value":"Nope"})",
         R"(root\app\amp\model:{"value":""})"
         "\r\n",
         ""},
        {"tempo as a quoted number", tempoAfter(R"("2.5")"), heldTempo, ""},
        {"tempo as a text", tempoAfter(R"("abc")"), heldTempo, ""},
        {"tempo null", tempoAfter("null"), heldTempo, ""},
        {"tempo true", tempoAfter("true"), heldTempo, ""},
        {"tempo an object", tempoAfter("{}"), heldTempo, ""},
        {"tempo an array", tempoAfter("[1]"), heldTempo, ""},
        {"tempo with more digits than shown, as sent", "write " + kTempo + R"({"value":99.1234567})",
         kTempo + R"({"value":99.1234567})"
                  "\r\n",
         ""},
        {"a text holding a NUL",
         "write " + kAlias +
             R"({"value":"kept"})"
             "\r\nwrite " +
             kAlias + R"({"value":"a\u0000b"})",
         kAlias +
             R"({"value":"kept"})"
             "\r\n" +
             kAlias +
             R"({"value":"kept"})"
             "\r\n",
         ""},
        // Each size below is followed by a chunk, which only an open transfer takes.
        {"a negative size", "supd -1\r\nupd 00",
         "0"
         "0",
         "ERROR (Update): not an image size: -1\n"},
        {"an exponent", "supd 1e9\r\nupd 00",
         "0"
         "0",
         "ERROR (Update): not an image size: 1e9\n"},
        {"hexadecimal", "supd 0x10\r\nupd 00",
         "0"
         "0",
         "ERROR (Update): not an image size: 0x10\n"},
        {"no size", "supd \r\nupd 00",
         "0"
         "0",
         "ERROR (Update): not an image size: \n"},
        {"zero opens a transfer that takes nothing", "supd 0\r\nupd 00",
         "2048"
         "0",
         ""},
        {"65,000 digits", "supd " + std::string(65000, '7'), "0",
         "ERROR (Update): image too large: " + std::string(48, '7') + "... (65000 bytes)\n"},
    };
    for (const Case& c : cases) {
        // A connection each: a row that waits for a log line in vain outlasts the idle rule.
        Client client(unit.port());
        const size_t before = unit.log().size();
        EXPECT_EQ(client.ask(c.request), nul(c.reply)) << c.what;
        if (!c.log.empty()) {
            EXPECT_TRUE(unit.waitLog(c.log, 2000)) << c.what;
        }
        std::string added = unit.log().substr(before);
        EXPECT_LT(added.size(), 512u) << c.what << ": " << added.substr(0, 300);
        if (c.log.empty()) {
            EXPECT_EQ(added.find("Not saved"), std::string::npos) << c.what << ": " << added;
        }
    }

    // The 61st name when all 60 positions hold one.
    Client client(unit.port());
    for (int i = 1; i < 60; ++i) {
        std::string name = "p" + std::to_string(i);
        ASSERT_EQ(client.ask("write " + save(name)), nul(save(name) + "\r\n")) << name;
    }
    EXPECT_EQ(client.ask("write " + save("extra")), nul(kPreset + R"({"value":"p59"})"
                                                                  "\r\n"));
    EXPECT_TRUE(unit.waitLog("W (Preset): Not saved as \"extra\": no empty slot\n", 2000));
    EXPECT_EQ(valueOf(client, R"(root\sys\alias)"), R"("kept")");
}
