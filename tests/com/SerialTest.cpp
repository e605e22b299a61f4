#include "com/Serial.h"
#include "TestTree.h"
#include "platform/SerialPort.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
const char* kTty = "/dev/ttyGS0";

// Drives the transport as "comTasks" would and plays the computer at the other end of the port.
struct Bench {
    TestTree tree;
    Serial serial{tree.root, kTty, 0, 0};
    int computer = -1;

    Bench()
    {
        computer = SerialPort::plug(kTty);
        serial.initialize();
    }
    ~Bench() { SerialPort::unplug(computer, kTty); }

    void pass(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            serial.tasks();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // The port opens on the first attempt 2 s after the first pass.
    void waitOpen()
    {
        auto end = Clock::now() + std::chrono::seconds(4);
        StdoutCapture capture;
        while (Clock::now() < end) {
            pass();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (probeOpen()) break;
        }
    }
    bool probeOpen() { return access((test_root() + kTty).c_str(), F_OK) == 0 && opened(); }
    bool opened()
    {
        // A request answered proves the port is open.
        send(withNul("browse root\\none"));
        pass(3);
        return collect(200) == withNul("\r\n");
    }
    void send(const std::string& bytes)
    {
        ASSERT_EQ(write(computer, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }
    // Everything that arrives within `ms` milliseconds of quiet, running passes meanwhile.
    std::string collect(int ms)
    {
        std::string got;
        auto quietUntil = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < quietUntil) {
            pass();
            char chunk[65536];
            ssize_t n = read(computer, chunk, sizeof chunk);
            if (n > 0) {
                got.append(chunk, static_cast<size_t>(n));
                quietUntil = Clock::now() + std::chrono::milliseconds(ms);
            }
        }
        return got;
    }
};

const std::string kNameFragment = "root\\sys\\_name:{\"value\":\"Quelm Device\"}";

} // namespace

TEST(Serial, OverlongRequestIsDroppedThroughItsNul)
{
    Bench bench;
    bench.waitOpen();
    ASSERT_TRUE(bench.opened());

    // 12000 bytes before the NUL: more than the buffer holds. Its tail is a valid write that must not
    // run as a request of its own.
    std::string tail = "write root\\sys\\alias:{\"value\":\"tail\"}";
    std::string junk(12000 - tail.size(), 'x');
    for (size_t at = 0; at < junk.size(); at += 1000) {
        bench.send(junk.substr(at, 1000));
        bench.pass(2);
    }
    bench.send(withNul(tail));
    EXPECT_EQ(bench.collect(100), "");
    EXPECT_EQ(bench.tree.alias->getValue(), "");

    bench.send(withNul("read root\\sys\\_name"));
    EXPECT_EQ(bench.collect(100), withNul(kNameFragment));
}

TEST(Serial, ClosedPortIsRetriedEveryTwoSecondsAndReportedOnce)
{
    TestTree tree;
    Serial serial(tree.root, kTty, 0, 0);
    // Nothing happens before initialize().
    StdoutCapture idle;
    serial.tasks();
    EXPECT_EQ(idle.text(), "");

    serial.initialize();
    const auto start = Clock::now();
    auto runUntil = [&](Clock::time_point end) {
        while (Clock::now() < end) {
            serial.tasks();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    StdoutCapture capture;
    runUntil(start + std::chrono::milliseconds(4500));
    // Plugged in, the port opens at the next attempt, at most 2 s later (6 s leave room for a loaded
    // machine).
    int computer = SerialPort::plug(kTty);
    runUntil(Clock::now() + std::chrono::seconds(6));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    SerialPort::unplug(computer, kTty);

    const std::string log = capture.text();
    const std::string failure = "ERROR (Serial): /dev/ttyGS0 - error\n";
    ASSERT_EQ(log.find(failure), 0u) << log;
    EXPECT_EQ(log.find(failure, 1), std::string::npos) << log;
    EXPECT_NE(log.find("I (Serial): /dev/ttyGS0 - load complete\n"), std::string::npos) << log;
    // Attempts are at least 2 s apart, the first 2 s after the first pass.
    unsigned repeats = 0;
    std::sscanf(log.c_str() + failure.size(), "I (Serial): previous message repeated %u times", &repeats);
    EXPECT_LE(2.0 * (repeats + 2), seconds) << log;
}
