// Honest clients of the running program among crowds over TCP: a client that takes its time between
// requests, pollers on kept connections beside a client that reconnects, a probe among 64 attacking
// addresses of four kinds, and a logged-in editor among 80 guessing addresses. Each client has a
// loopback address of its own (127.0.0.x), as clients on a network have.
#include "Unit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kName = nul("root\\sys\\_name:{\"value\":\"Vornetide PRO\"}");

// 64 connections, one per address from 127.0.0.0 + `firstHost` on, each reopened at once when the
// unit drops it, all driven by one thread.
class Crowd {
public:
    enum Kind { kIdle, kSlowSender, kPerRequest, kSlowReader };
    static constexpr int kAddresses = 64;
    Crowd(int port, Kind kind, int firstHost) : thread([=, this] { run(port, kind, firstHost); }) {}
    ~Crowd()
    {
        stop = true;
        thread.join();
    }

private:
    void run(int port, Kind kind, int firstHost)
    {
        std::vector<int> fds(kAddresses, -1);
        const std::string request = nul(kind == kSlowReader ? "browse root" : "read root\\sys\\_name");
        for (int tick = 0; !stop; ++tick) {
            for (int i = 0; i < kAddresses; ++i) {
                int& fd = fds[size_t(i)];
                if (fd < 0) {
                    fd = connectFrom(port, firstHost + i, kind == kSlowReader ? 2048 : 0);
                    if (fd < 0) continue;
                    if (kind == kSlowSender) ::send(fd, std::string(1100, 'x').data(), 1100, MSG_NOSIGNAL);
                    if (kind == kPerRequest || kind == kSlowReader)
                        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                }
                // A few bytes a tick: the slow reader's whole appetite, and enough to see a close.
                char chunk[16];
                ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
                bool done = n == 0 || (n < 0 && errno != EAGAIN) || (n > 0 && chunk[n - 1] == 0);
                // The rest of a short reply at once.
                if (kind == kPerRequest && n > 0 && !done) done = !replyOn(fd, 1000).empty() || true;
                if (kind == kSlowSender && tick % 20 == 0) ::send(fd, "x", 1, MSG_NOSIGNAL);
                if (done) ::close(fd), fd = -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    std::atomic<bool> stop{false};
    std::thread thread;
};

} // namespace

TEST(RemoteCrowd, KeptConnectionWaitsFiveSecondsBetweenRequestsWhenAlone)
{
    Unit unit;
    unit.startQuiet();
    int fd = connectFrom(unit.port(), 2);
    for (int i = 0; i < 3; ++i) {
        if (i > 0) std::this_thread::sleep_for(4500ms);
        const std::string request = nul("read root\\sys\\_name");
        ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size())) << i;
        EXPECT_EQ(replyOn(fd, 2000), kName) << "request " << i;
    }
    ::close(fd);
}

TEST(RemoteCrowd, EveryRequestSentIsAnsweredWhileSlotsChangeHands)
{
    Unit unit;
    unit.startQuiet();
    const int port = unit.port();
    // Three pollers every 100 ms on kept connections, and a client that reconnects every 0.5 s.
    std::atomic<bool> stop{false};
    std::atomic<int> sent[4] = {}, answered[4] = {};
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back([&, i] {
            Peer kept(port, 2 + i);
            while (!stop) {
                ++sent[i];
                answered[i] += (i < 3 ? kept.ask("read root\\sys\\_name")
                                      : askFrom(port, 2 + i, "read root\\sys\\_name")) == kName;
                std::this_thread::sleep_for(i < 3 ? 100ms : 500ms);
            }
        });
    }
    std::this_thread::sleep_for(10s);
    stop = true;
    for (auto& client : clients) client.join();
    for (int i = 0; i < 4; ++i) {
        EXPECT_GT(sent[i], i < 3 ? 20 : 5) << "client " << i;
        EXPECT_EQ(answered[i], sent[i]) << "client " << i;
    }
}

TEST(RemoteCrowd, ProbeIsAnsweredWithinASecondAmongSixtyFourAddresses)
{
    Unit unit;
    unit.startQuiet();
    const int port = unit.port();
    struct Case {
        const char* what;
        Crowd::Kind kind;
    } cases[] = {
        {"connections held idle", Crowd::kIdle},
        {"slow senders without a NUL", Crowd::kSlowSender},
        {"a connection per request", Crowd::kPerRequest},
        {"readers of a large reply, a few bytes at a time", Crowd::kSlowReader},
    };
    int firstHost = 10;
    for (const Case& c : cases) {
        Crowd crowd(port, c.kind, firstHost);
        std::this_thread::sleep_for(1s);
        long worst = 0;
        for (int i = 0; i < 10; ++i) {
            auto start = Clock::now();
            // A fresh address, as a phone joining the network.
            EXPECT_EQ(askFrom(port, 2 + firstHost / Crowd::kAddresses, "read root\\sys\\_name", 5000), kName)
                << c.what << ", probe " << i;
            worst = std::max(worst, msSince(start));
            std::this_thread::sleep_until(start + 500ms);
        }
        EXPECT_LT(worst, 1000 * KESTRUN_PROGRAM_SLOWDOWN) << c.what;
        firstHost += Crowd::kAddresses;
    }
    EXPECT_TRUE(unit.running());
}

TEST(RemoteCrowd, LoggedInEditorStaysInAmongEightyGuessingAddresses)
{
    Unit unit;
    unit.startQuiet();
    const int port = unit.port();
    ASSERT_EQ(askFrom(port, 2, "write root\\sys\\pwd:{\"value\":\"4711\"}"),
              nul("root\\sys\\pwd:{\"value\":\"4711\"}\r\n"));
    Peer editor(port, 3);
    std::string token = tokenOf(editor.ask(login("4711", tokenOf(editor.ask("read root\\none")))));
    ASSERT_EQ(token.size(), 16u);

    std::atomic<bool> stop{false};
    std::vector<std::thread> guessers;
    for (int host = 100; host < 180; ++host) {
        guessers.emplace_back([&, host] {
            for (int guess = 0; !stop; ++guess) {
                std::string t = tokenOf(askFrom(port, host, "read root\\none"));
                askFrom(port, host, login(std::to_string(1000 + guess), t));
            }
        });
    }
    // Fresh addresses with the right password, meanwhile.
    std::thread newcomers([&] {
        for (int host = 200; host < 203; ++host) {
            std::this_thread::sleep_for(2s);
            auto start = Clock::now();
            std::string reply = askFrom(port, host, login("4711", tokenOf(askFrom(port, host, "read root\\none"))));
            EXPECT_NE(reply.find(" y\r\n"), std::string::npos) << "newcomer " << host;
            EXPECT_LT(msSince(start), 2000 * KESTRUN_PROGRAM_SLOWDOWN) << "newcomer " << host;
        }
    });
    std::this_thread::sleep_for(1s);
    int accepted = 0, refused = 0;
    constexpr int kPolls = 20;
    for (int i = 0; i < kPolls; ++i) {
        auto start = Clock::now();
        std::string reply = editor.ask(login("4711", token) + "read root\\sys\\_name");
        accepted += reply.find(" y\r\n") != std::string::npos;
        refused += reply.find(" n\r\n") != std::string::npos;
        if (!reply.empty()) token = tokenOf(reply);
        std::this_thread::sleep_until(start + 500ms);
    }
    newcomers.join();
    stop = true;
    for (auto& guesser : guessers) guesser.join();
    EXPECT_EQ(refused, 0);
    EXPECT_GE(accepted, kPolls * 95 / 100);
    EXPECT_EQ(unit.log().find("Login attempts from 127.0.0.3 "), std::string::npos)
        << "the editor counted as a guesser";
}
