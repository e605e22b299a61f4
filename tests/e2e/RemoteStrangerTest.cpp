// A stranger on the network against the running program: guessing the password, holding the TCP
// slots with idle, reconnecting and trickling connections, a wall clock set back and forth, texts
// that are not plain, writes to folders and an oversized program image. Each client of a crowd has a
// loopback address of its own (127.0.0.x), as clients on a network have.
#include "Transfer.h"
#include "Unit.h"

#include "params/Security.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kName = nul("root\\sys\\_name:{\"value\":\"Vornetide PRO\"}");

} // namespace

TEST(RemoteStranger, GuessingWaitsLongerPerClientAndTransport)
{
    Unit unit;
    unit.startQuiet();
    const int port = unit.port();
    Computer computer;
    ASSERT_TRUE(computer.waitOpen(20000)) << unit.log();
    ASSERT_EQ(askFrom(port, 1, "write root\\sys\\pwd:{\"value\":\"4711\"}"),
              nul("root\\sys\\pwd:{\"value\":\"4711\"}\r\n"));

    // The guesser (127.0.0.2): three wrong answers are merely wrong; then even the right one is
    // refused unchecked until a second has passed since the last failure.
    std::string token = tokenOf(askFrom(port, 2, "read root\\none"));
    for (const char* guess : {"0000", "0001", "0002"}) {
        std::string reply = askFrom(port, 2, login(guess, token));
        ASSERT_NE(reply.find(" n\r\n"), std::string::npos) << guess;
        token = tokenOf(reply);
    }
    auto failed = Clock::now();
    std::string reply = askFrom(port, 2, login("4711", token) + "write root\\sys\\alias:{\"value\":\"won\"}");
    EXPECT_EQ(reply, nul("token " + tokenOf(reply) + " n\r\n")) << "throttled";
    reply = askFrom(port, 2, login("4711", tokenOf(reply)));
    EXPECT_NE(reply.find(" n\r\n"), std::string::npos);
    EXPECT_TRUE(unit.waitLog("W (Com): Login attempts from 127.0.0.2 throttled after 3 failures", 1000)) << unit.log();
    // Logged once per burst.
    std::string log = unit.log();
    EXPECT_EQ(log.find("throttled", log.find("throttled") + 1), std::string::npos);

    // Another client, and the serial port, log in at once.
    reply = askFrom(port, 3, "read root\\none");
    reply = askFrom(port, 3, login("4711", tokenOf(reply)));
    EXPECT_NE(reply.find(" y\r\n"), std::string::npos) << reply;
    reply = computer.ask("read root\\none");
    reply = computer.ask(login("4711", tokenOf(reply)));
    EXPECT_NE(reply.find(" y\r\n"), std::string::npos) << reply;

    // Once the wait is over, the right password opens for the guesser too.
    std::this_thread::sleep_until(failed + 1100ms);
    reply = askFrom(port, 2, login("4711", tokenOf(askFrom(port, 2, "read root\\none"))));
    EXPECT_NE(reply.find(" y\r\n"), std::string::npos) << reply;
}

TEST(RemoteStranger, ProbeIsAnsweredWithinASecondUnderCrowds)
{
    Unit unit;
    unit.startQuiet();
    const int port = unit.port();
    std::atomic<bool> stop{false};
    std::vector<std::thread> crowd;
    // 80 idle connections from four addresses, held open.
    std::vector<int> idle;
    for (int i = 0; i < 80; ++i) idle.push_back(connectFrom(port, 10 + i % 4));
    // Two addresses reconnecting whenever they are dropped, 20 connections each.
    for (int host : {20, 21}) {
        crowd.emplace_back([&, host] {
            std::vector<int> fds;
            while (!stop) {
                for (int& fd : fds) {
                    char byte;
                    if (::recv(fd, &byte, 1, MSG_DONTWAIT) == 0) ::close(fd), fd = -1;
                }
                std::erase(fds, -1);
                while (fds.size() < 20 && !stop) fds.push_back(connectFrom(port, host));
                std::this_thread::sleep_for(20ms);
            }
            for (int fd : fds) ::close(fd);
        });
    }
    // Ten senders of a byte every 100 ms from five addresses.
    for (int i = 0; i < 10; ++i) {
        crowd.emplace_back([&, i] {
            int fd = connectFrom(port, 30 + i % 5);
            const std::string request = nul("read root\\sys\\_name");
            for (size_t at = 0; !stop; at = (at + 1) % request.size()) {
                if (fd < 0 || ::send(fd, &request[at], 1, MSG_NOSIGNAL) != 1) {
                    if (fd >= 0) ::close(fd);
                    fd = connectFrom(port, 30 + i % 5);
                }
                std::this_thread::sleep_for(100ms);
            }
            if (fd >= 0) ::close(fd);
        });
    }
    std::this_thread::sleep_for(1500ms);
    long worst = 0;
    for (int i = 0; i < 8; ++i) {
        auto start = Clock::now();
        EXPECT_EQ(askFrom(port, 1, "read root\\sys\\_name", 5000), kName) << i;
        worst = std::max(worst, msSince(start));
        std::this_thread::sleep_for(300ms);
    }
    stop = true;
    for (auto& thread : crowd) thread.join();
    for (int fd : idle) ::close(fd);
    EXPECT_LT(worst, 1000 * KESTRUN_PROGRAM_SLOWDOWN) << "ms";
    EXPECT_TRUE(unit.running());
}

TEST(RemoteStranger, WallClockStepsHideNoChangeAndStopNoRule)
{
    // The unit's wall clock goes back an hour some seconds after start, and forward two hours later.
    // The schedule counts from the program's start, so a start slower than its first part (a loaded
    // machine, a sanitizer build) is tried again on a longer schedule.
    Unit unit;
    auto started = Clock::now();
    std::chrono::milliseconds step = 4000ms;
    for (int tries = 0;; ++tries) {
        std::string steps = std::to_string(step.count()) + ":-3600," + std::to_string(3 * step.count()) + ":7200";
        setenv("KESTRUN_CLOCK_STEPS", steps.c_str(), 1);
        started = Clock::now();
        unit.startQuiet();
        unsetenv("KESTRUN_CLOCK_STEPS");
        if (msSince(started) < step.count() - 500) break;
        ASSERT_LT(tries, 3) << "the start took too long for the schedule";
        unit.kill();
        step *= 2;
    }
    // The poller, the writer and the idle client at addresses of their own: the poller connects per
    // request and takes up its own polls each time.
    const int port = unit.port();
    askFrom(port, 2, "read root");
    for (const auto& [at, value] : {std::pair{step + 500ms, "back"}, std::pair{3 * step + 500ms, "forth"}}) {
        // A poll before the step, a change after it: the next poll reports the change.
        EXPECT_EQ(askFrom(port, 2, "read root\\sys"), nul("\r\n")) << value;
        std::this_thread::sleep_until(started + at);
        const std::string fragment = std::string("root\\sys\\alias:{\"value\":\"") + value + "\"}";
        EXPECT_EQ(askFrom(port, 3, "write " + fragment), nul(fragment + "\r\n"));
        EXPECT_EQ(askFrom(port, 2, "read root\\sys"), nul(fragment)) << value;
        // A connection that sends nothing is still dropped on time (5 s: nobody else waits).
        auto idleSince = Clock::now();
        int idle = connectFrom(port, 4);
        char byte;
        pollfd p{idle, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 7000), 1) << value;
        EXPECT_EQ(::recv(idle, &byte, 1, MSG_DONTWAIT), 0) << value;
        EXPECT_LT(msSince(idleSince), 6500) << value;
        ::close(idle);
    }
}

TEST(RemoteStranger, TextsTravelAsJsonAndRefusalsShowTheKeptValue)
{
    Unit unit;
    unit.startQuiet();
    Client client(unit.port());
    struct Case {
        const char* what;
        std::string argument;
        std::string echo;
        std::string shown; // the alias's value member afterwards
    } cases[] = {
        {"plain text, as always", R"(root\sys\alias:{"value":"plain"})", R"(root\sys\alias:{"value":"plain"})",
         R"("plain")"},
        {"quote", R"(root\sys\alias:{"value":"pa\"ss"})", R"(root\sys\alias:{"value":"pa\"ss"})", R"("pa\"ss")"},
        {"backslash and line feed", R"(root\sys\alias:{"value":"x\\y\n"})", R"(root\sys\alias:{"value":"x\\y\n"})",
         R"("x\\y\n")"},
        {"brace", R"(root\sys\alias:{"value":"ab}cd"})", R"(root\sys\alias:{"value":"ab}cd"})", R"("ab}cd")"},
        {"whitespace", R"(root\sys\alias:{ "value" : "spaced" })", R"(root\sys\alias:{ "value" : "spaced" })",
         R"("spaced")"},
        {"no JSON: refused", R"(root\sys\alias:{"value":"a"b"})", R"(root\sys\alias:{"value":"spaced"})",
         R"("spaced")"},
        {"folder: refused", R"(root\sys:{"value":"x\r\ny"})", R"(root\sys:{"value":""})", R"("spaced")"},
        {"top folder: refused", R"(root:{"value":"x"})", R"(root:{"value":""})", R"("spaced")"},
        {"on/off with whitespace", R"(root\app\gate\on_off:{"value": "ON"})", R"(root\app\gate\on_off:{"value": "ON"})",
         R"("spaced")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(client.ask("write " + c.argument), nul(c.echo + "\r\n")) << c.what;
        EXPECT_EQ(valueOf(client, "root\\sys\\alias"), c.shown) << c.what;
    }
    EXPECT_EQ(valueOf(client, "root\\app\\gate\\on_off"), R"("ON")");

    // Every fragment of the tree is JSON after the path, texts with quotes and backslashes included.
    client.ask(R"(write root\sys\wifi\ssid:{"value":"caf\"e\\"})");
    std::string tree = client.ask("browse root");
    size_t fragments = 0;
    for (size_t at = 0; at < tree.size() - 1;) {
        size_t end = std::min(tree.find("\r\n", at), tree.size() - 1);
        std::string line = tree.substr(at, end - at);
        EXPECT_FALSE(nlohmann::json::parse(line.substr(line.find(':') + 1), nullptr, false).is_discarded()) << line;
        ++fragments;
        at = end + 2;
    }
    EXPECT_GT(fragments, 100u);

    // An image over the cap is refused in the first reply.
    EXPECT_EQ(client.ask("supd 999999999999"), nul("0"));
    EXPECT_EQ(client.ask("upd 00"), nul("0"));
}

// An upload belongs to the client that opened it: a chunk, a name block or a rename from a client at
// another address gets the owner's status and changes nothing, and the owner, reconnecting meanwhile
// as a client dropped between requests does, stores its own element.
TEST(RemoteStranger, CannotFinishOrBreakAnotherClientsUpload)
{
    Unit unit;
    unit.startQuiet();
    auto response = [](float tap) {
        std::string bytes(8192, '\0');
        for (size_t k = 0; k < bytes.size(); k += 4) std::memcpy(&bytes[k], &tap, 4);
        return bytes;
    };
    // The stranger's chunk: the last, 0 (a name block), -1 (a rename).
    for (int position = 4; int chunk : {64, 0, -1}) {
        SCOPED_TRACE(chunk);
        const std::string mine = response(0.001f * float(position)), name = "Mine " + std::to_string(position);
        std::vector<std::string> lines = transfer::writeLines(transfer::kIrs, position, name, mine);
        const auto strangers = transfer::writeLines(transfer::kIrs, position, "Theirs", response(0.1f));
        std::string theirs = strangers[chunk > 0 ? 64 : 0];
        if (chunk < 0) theirs.replace(theirs.find("\"chunk\":0,"), 10, "\"chunk\":-1,");
        const std::string status = "dwrite root\\ir_list:{\"index\":" + std::to_string(position++) + ",\"chunk\":";
        std::string first = lines[0];
        for (size_t k = 1; k < 64; ++k) first += "\r\n" + lines[k];
        const std::string began = Client(unit.port()).ask(first);
        ASSERT_EQ(began.substr(began.size() - status.size() - 4), status + "64}" + '\0');
        EXPECT_EQ(askFrom(unit.port(), 2, theirs), nul(status + "64}"));
        Client owner(unit.port());
        EXPECT_EQ(owner.ask(lines[64]), nul(status + "-1}"));
        EXPECT_EQ(transfer::read(owner, transfer::kIrs, position - 1), mine);
        const std::string names = owner.ask("browse root\\ir_list");
        EXPECT_TRUE(names.find("\"" + name + "\"") != std::string::npos && names.find("Theirs") == std::string::npos);
    }
}
