// The running program browsed, polled and written from outside, over TCP and the serial port.
#include "Unit.h"
#include "params/StorageId.h"

#include "params/Security.h"
#include "platform/model/ShellScript.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size())
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

} // namespace

TEST(Remote, BrowseReadWriteOverTcp)
{
    Unit unit;
    unit.startQuiet();
    Client client(unit.port());

    std::string browse = client.ask("browse root\\sys");
    ASSERT_FALSE(browse.empty());
    EXPECT_EQ(browse.back(), '\0');
    std::vector<std::string> fragments = split(browse.substr(0, browse.size() - 1), "\r\n");
    ASSERT_GE(fragments.size(), 10u);
    EXPECT_EQ(fragments[0],
              "root\\sys:{\"desc\":\"System\",\"value\":\"\",\"type\":\"item\",\"item_type\":\"system\",\"def\":\"\"}");
    EXPECT_EQ(fragments[1],
              "root\\sys\\_name:{\"desc\":\"Name\",\"value\":\"Vornetide PRO\",\"type\":\"item\","
              "\"item_type\":\"system\",\"def\":\"Quelm Device\"}");
    EXPECT_EQ(fragments.back(),
              "root\\sys\\wifi\\state:{\"desc\":\"State\",\"value\":\"DISCONNECTED\",\"type\":\"item\","
              "\"item_type\":\"string\",\"def\":\"DISCONNECTED\"}");
    for (const std::string& fragment : fragments) EXPECT_EQ(fragment.rfind("root\\sys", 0), 0u) << fragment;

    // Right after: only what changed since, i.e. nothing.
    EXPECT_EQ(client.ask("read root"), nul("\r\n"));

    EXPECT_EQ(client.ask("write root\\sys\\alias:{\"value\":\"x\"}"), nul("root\\sys\\alias:{\"value\":\"x\"}\r\n"));
    EXPECT_EQ(client.ask("read root"), nul("root\\sys\\alias:{\"value\":\"x\"}"));
    // Refused, and echoed with the value kept.
    EXPECT_EQ(client.ask("write root\\sys\\_name:{\"value\":\"y\"}"),
              nul("root\\sys\\_name:{\"value\":\"Vornetide PRO\"}\r\n"));
    EXPECT_EQ(client.ask("read root\\sys\\_name"), nul("root\\sys\\_name:{\"value\":\"Vornetide PRO\"}"));
    EXPECT_EQ(client.ask("read root"), nul("\r\n"));
    EXPECT_EQ(client.ask("fetch root\\sys"), nul("\r\n"));
    EXPECT_EQ(client.ask("browse root\\nowhere"), nul("\r\n"));
}

TEST(Remote, AliasSurvivesRestart)
{
    Unit unit;
    unit.startQuiet();
    // Stored values are written back by "eventTasks", one item per 10 ms pass: wait for the file.
    ASSERT_NE(unit.log().find("eventTasks create success"), std::string::npos);
    {
        Client client(unit.port());
        EXPECT_EQ(client.ask("write root\\sys\\alias:{\"value\":\"x\"}"),
                  nul("root\\sys\\alias:{\"value\":\"x\"}\r\n"));
    }
    const std::string aliasFile = test_root() + "/home/storage/" + make_storage_id("root\\sys\\alias");
    for (int i = 0; i < 600 && read_file(aliasFile) != std::string("x", 2); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(read_file(aliasFile), std::string("x", 2));
    unit.kill();
    unit.startQuiet();
    Client again(unit.port());
    EXPECT_EQ(again.ask("read root\\sys\\alias"), nul("root\\sys\\alias:{\"value\":\"x\"}"));
}

TEST(Remote, PasswordAndImageUpload)
{
    setenv("KESTRUN_BT_ADDR", "12:34:56:78:9A:BC", 1);
    Unit unit;
    unit.startQuiet();
    Computer computer;
    ASSERT_TRUE(computer.waitOpen(20000)) << unit.log();
    Client client(unit.port());

    EXPECT_EQ(client.ask("write root\\sys\\pwd:{\"value\":\"secret\"}"),
              nul("root\\sys\\pwd:{\"value\":\"secret\"}\r\n"));

    // Every reply now starts with a token line; writes without a right answer are skipped.
    std::string reply = client.ask("write root\\sys\\alias:{\"value\":\"no\"}\r\nread root\\sys\\alias");
    std::string token = tokenOf(reply);
    ASSERT_EQ(token.size(), 16u) << reply;
    EXPECT_EQ(reply, nul("token " + token + " n\r\nroot\\sys\\alias:{\"value\":\"\"}"));

    std::string serialToken = tokenOf(computer.ask("browse root\\nothing"));
    ASSERT_EQ(serialToken.size(), 16u);

    // The right answer to this transport's token: " y", and the write applies.
    reply = client.ask("token " + Security::generateHash("secret" + token) +
                       "\r\nwrite root\\sys\\alias:{\"value\":\"ok\"}");
    token = tokenOf(reply);
    EXPECT_EQ(reply, nul("token " + token + " y\r\nroot\\sys\\alias:{\"value\":\"ok\"}\r\n"));

    // The serial port's token answered over TCP is refused, and the write skipped.
    reply = client.ask("token " + Security::generateHash("secret" + serialToken) +
                       "\r\nwrite root\\sys\\alias:{\"value\":\"bad\"}\r\nread root\\sys\\alias");
    EXPECT_EQ(reply, nul("token " + tokenOf(reply) + " n\r\nroot\\sys\\alias:{\"value\":\"ok\"}"));
    token = tokenOf(reply);

    // Image upload: announce the size, send hexadecimal chunks, the image lands at /home/app_run.
    std::string image;
    for (int i = 0; i < 5000; ++i) image.push_back(static_cast<char>(i * 7 + 3));
    std::string prefix = "token " + Security::generateHash("secret" + token) + "\r\n";
    reply = client.ask(prefix + "supd 5000");
    EXPECT_NE(reply.find(" y\r\n2048"), std::string::npos) << reply;
    token = tokenOf(reply);
    size_t offset = 0;
    std::string last;
    while (offset < image.size()) {
        std::string hex;
        for (size_t i = offset; i < image.size() && i < offset + 2048; ++i) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(image[i]));
            hex += pair;
        }
        reply = client.ask("token " + Security::generateHash("secret" + token) + "\r\nupd " + hex);
        token = tokenOf(reply);
        offset += hex.size() / 2;
        last = reply;
        EXPECT_NE(reply.find(" y\r\n" + std::to_string(offset)), std::string::npos) << reply;
    }
    EXPECT_EQ(read_file(test_root() + "/home/app_run"), image);
    struct stat info {};
    ASSERT_EQ(stat((test_root() + "/home/app_run").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);
}

TEST(Remote, TcpClients)
{
    Unit unit;
    unit.startQuiet();
    const std::string name = nul("root\\sys\\_name:{\"value\":\"Vornetide PRO\"}");

    // Two clients with interleaved partial requests both get right answers.
    Client a(unit.port()), b(unit.port());
    a.send("read root\\sys\\_na");
    b.send("read root\\sys\\_ar");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    b.send(nul("ch"));
    a.send(nul("me"));
    EXPECT_EQ(a.reply(), name);
    EXPECT_EQ(b.reply(), nul("root\\sys\\_arch:{\"value\":\"CM4\"}"));

    // A fourth client with a whole request does not wait for the three open ones: one idle for a
    // moment yields its slot.
    Client c(unit.port());
    EXPECT_EQ(c.ask("read root\\sys\\_name"), name);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Client d(unit.port());
    d.send(nul("read root\\sys\\_name"));
    EXPECT_EQ(d.reply(1000), name);

    // A reply of several hundred kilobytes arrives whole.
    // (root\sys repeated, not the whole tree, so that a sanitizer build answers in time.)
    std::string one = d.ask("browse root\\sys");
    ASSERT_GT(one.size(), 100u);
    const size_t repeats = 300000 / (one.size() - 1) + 1;
    std::string request;
    for (size_t i = 0; i < repeats; ++i) request += "browse root\\sys\r\n";
    d.send(Client::withNul(request));
    std::string big = d.reply(20000); // a loaded sanitizer build needs more than the usual wait
    ASSERT_GT(big.size(), 300000u);
    std::string expected;
    for (size_t i = 0; i < repeats; ++i) expected += one.substr(0, one.size() - 1);
    EXPECT_EQ(big, nul(expected));

    // A client that goes away in the middle of a reply leaves the program running.
    Client e(unit.port());
    e.send(nul(request));
    char head[64];
    ASSERT_GT(recv(e.fd(), head, sizeof head, 0), 0);
    e.closeHard();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(unit.running());
    EXPECT_EQ(d.ask("read root\\sys\\_name"), name);
}

TEST(Remote, SerialPort)
{
    Unit unit;
    unit.startQuiet();
    Computer computer;
    ASSERT_TRUE(computer.waitOpen(20000)) << unit.log();
    const std::string name = nul("root\\sys\\_name:{\"value\":\"Vornetide PRO\"}");

    // Split over three writes: one reply.
    computer.send("read ro");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    computer.send("ot\\sys\\_n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    computer.send(nul("ame"));
    EXPECT_EQ(computer.receive(10000, false, 300), name);

    // Two requests in one write: one reply, to the first.
    computer.send(nul("read root\\sys\\_name") + nul("browse root"));
    EXPECT_EQ(computer.receive(10000, false, 300), name);

    // Unplugged while a long reply is on its way: the disconnect is logged, and once the port is
    // back the rest of the reply arrives, NUL last.
    std::string request;
    // root\sys: the application's whole tree would make a reply far longer than the port drains in
    // the time allowed.
    for (int i = 0; i < 500; ++i) request += "browse root\\sys\r\n";
    computer.send(nul(request));
    // The computer reads only a little, so the port fills and the reply stays pending.
    pollfd ready{computer.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 30000), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    char head[1000];
    ASSERT_GT(read(computer.fd(), head, sizeof head), 0);
    computer.unplug();
    EXPECT_TRUE(unit.waitLog("I (Serial): Disconnected", 10000)) << unit.log();
    computer.plug();
    std::string rest = computer.receive(30000);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(), '\0');
    EXPECT_TRUE(unit.running());
    EXPECT_EQ(computer.ask("read root\\sys\\_name"), name);
}

TEST(Remote, WifiJoin)
{
    Unit unit;
    unit.startQuiet();
    Client client(unit.port());
    std::string shell = ShellScript::log();
    EXPECT_NE(shell.find("sudo tee /etc/avahi/services/http.service > /dev/null <<'EOF'\n"
                         "<?xml version=\"1.0\" standalone='no'?>\n"
                         "<!DOCTYPE service-group SYSTEM \"avahi-service.dtd\">\n"
                         "<service-group>\n"
                         "  <name replace-wildcards=\"yes\">quelm00:00:00:00:00:00</name>\n"
                         "  <service>\n"
                         "    <type>_http._tcp</type>\n"
                         "    <port>" +
                         std::to_string(unit.port()) +
                         "</port>\n"
                         "    <txt-record>id=quelm</txt-record>\n"
                         "    <txt-record>MAC=00:00:00:00:00:00</txt-record>\n"
                         "    <txt-record>name=Vornetide PRO</txt-record>\n"
                         "  </service>\n"
                         "</service-group>\n"
                         "EOF\n"),
              std::string::npos)
        << shell;
    EXPECT_NE(shell.find("{ sudo nmcli device disconnect wlan0; sudo nmcli connection delete ''; sudo nmcli --wait 10 "
                         "device wifi connect '' password '' ifname wlan0; } > /dev/null 2>&1\n"),
              std::string::npos);

    // A new network name starts a join within one cycle (5 s); the link comes up and shows.
    ShellScript::reset();
    ShellScript::add("sudo nmcli -g", 0, "");
    EXPECT_EQ(client.ask("write root\\sys\\wifi\\ssid:{\"value\":\"Home's\"}"),
              nul("root\\sys\\wifi\\ssid:{\"value\":\"Home's\"}\r\n"));
    const std::string join =
        "{ sudo nmcli device disconnect wlan0; sudo nmcli connection delete 'Home'\\''s'; sudo "
        "nmcli --wait 10 device wifi connect 'Home'\\''s' password '' ifname wlan0; } > /dev/null 2>&1\n";
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(6000);
    while (ShellScript::log().find(join) == std::string::npos && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(ShellScript::log().find(join), std::string::npos) << ShellScript::log();

    // The link check follows within 10 s, and the state node shows the result.
    // (A new client: the first one was idle long enough to be dropped.)
    Client poller(unit.port());
    std::string state;
    end = std::chrono::steady_clock::now() + std::chrono::milliseconds(12000);
    while (std::chrono::steady_clock::now() < end) {
        state = poller.ask("read root\\sys\\wifi\\state");
        if (state.find("CONNECTED\"") != std::string::npos && state.find("DIS") == std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(state, nul("root\\sys\\wifi\\state:{\"value\":\"CONNECTED\"}"));
}
