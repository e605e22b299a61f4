// Structural changes by the thousand (blocks switched from MIDI, from the remote side and by preset
// loads from the footswitches) while MIDI bytes, remote writes and panel events keep flowing and, in
// the plain build, every allocation of the program is made slow (tests/e2e/preload): a fade's pause
// must never stop a thread that holds something another needs. The machine's load is the suite's own
// (busy loops of the test's own would starve the tests beside it); docs/stress.md gives figures under load.
// KESTRUN_STRESS_SECONDS sets the length (20 s).
#include "Keyboard.h"
#include "Unit.h"

#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The q-quantile of the values (0 when there are none).
double quantile(std::vector<double> values, double q)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(q * double(values.size())))];
}

// How long the control thread may take to pass a MIDI byte back, less the time this test's own reader
// ran late: its 10-ms cycle, the queue at the slowed allocator, and the delays a busy machine gives it
// (typically a few tens of milliseconds; on a shared machine at several times its CPUs' load, some
// hundreds). A thread stopped where it holds the allocator's lock, with the audio thread waiting
// behind it, takes seconds or for ever; the allocator itself reports a stop of 10 ms.
constexpr double kThruBoundMs = 1000.0 * KESTRUN_PROGRAM_SLOWDOWN;
// A remote reply (a write each) counts as missed after this.
constexpr int kReplyMs = 10000;

const char* kMidiSwitch = "root\\app\\reverb\\on_off"; // control change 5
const char* kRemoteSwitches[] = {"root\\app\\mod\\on_off", "root\\app\\delay\\on_off"};

std::string write(const std::string& path, const std::string& value)
{
    return "write " + path + ":{\"value\":\"" + value + "\"}";
}

} // namespace

TEST(Stress, StructuralChangesNeverStallTheControlThreadNorLoseAMidiByte)
{
    const char* secondsText = std::getenv("KESTRUN_STRESS_SECONDS");
    const int seconds = secondsText && std::atoi(secondsText) > 0 ? std::atoi(secondsText) : 20;
    Keyboard keyboard;
    ASSERT_GE(keyboard.end, 0);
    Unit unit;
    const bool slowAllocator = *KESTRUN_SLOW_ALLOC != '\0';
    if (slowAllocator) unit.setEnvironment("LD_PRELOAD", KESTRUN_SLOW_ALLOC);
    unit.start();
    ASSERT_TRUE(unit.waitLog("I (SourceMidi): Driver install done", 20000)) << unit.log();
    ASSERT_TRUE(unit.waitLog("I (Panel): commands from", 20000)) << unit.log();

    // Two presets for the footswitches: A with every switch on, B with every switch off.
    {
        Client setup(unit.port());
        for (const char* preset : {"Lead", "Clean"}) {
            const std::string value = std::string(preset) == "Lead" ? "ON" : "OFF";
            setup.ask(write(kMidiSwitch, value));
            for (const char* path : kRemoteSwitches) setup.ask(write(path, value));
            setup.ask("write root\\app\\preset:{\"value\":\"" + std::string(preset) + "\",\"save\":\"save\"}");
        }
        ASSERT_EQ(valueOf(setup, "root\\app\\preset"), "\"Clean\"");
    }

    std::atomic<bool> stop{false};

    // MIDI: a clock byte every 5 ms, and every 15 ms a control change that switches the reverb.
    std::string sent;
    std::vector<Clock::time_point> sentAt;
    int midiSwitches = 0;
    std::thread midiOut([&] {
        for (int tick = 0; !stop.load(); ++tick) {
            std::string bytes = "\xF8";
            if (tick % 3 == 0) {
                bytes += std::string("\xB0\x05", 2) + ((tick / 3) % 2 ? '\x00' : '\x7F');
                ++midiSwitches;
            }
            for (size_t done = 0; done < bytes.size() && !stop.load();) {
                ssize_t n = ::write(keyboard.end, bytes.data() + done, bytes.size() - done);
                if (n <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                sent.append(bytes, done, size_t(n));
                sentAt.insert(sentAt.end(), size_t(n), Clock::now());
                done += size_t(n);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::string thru;
    std::vector<Clock::time_point> thruAt;
    std::atomic<size_t> thruCount{0};
    std::atomic<bool> drained{false};
    // On a busy machine this test's own reader may run late too: a byte's delay includes that.
    std::atomic<double> readerLateMs{0.0};
    std::thread midiIn([&] {
        char buffer[1024];
        auto lastLoop = Clock::now();
        while (!drained.load()) {
            const auto now = Clock::now();
            readerLateMs.store(std::max(readerLateMs.load(), msBetween(lastLoop, now)));
            lastLoop = now;
            pollfd p{keyboard.end, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            ssize_t n = ::read(keyboard.end, buffer, sizeof buffer);
            if (n <= 0) continue;
            thru.append(buffer, size_t(n));
            thruAt.insert(thruAt.end(), size_t(n), Clock::now());
            thruCount.store(thru.size());
        }
    });

    // The remote side: two clients, each switching a block with every write.
    std::vector<double> replyMs[2];
    int missed[2] = {0, 0};
    std::vector<std::thread> remotes;
    for (int c = 0; c < 2; ++c)
        remotes.emplace_back([&, c] {
            Client client(unit.port());
            for (int i = 0; !stop.load(); ++i) {
                const auto before = Clock::now();
                client.send(Client::withNul(write(kRemoteSwitches[c], i % 2 ? "OFF" : "ON")));
                const std::string reply = client.reply(kReplyMs);
                if (reply.empty() || reply.back() != '\0') {
                    ++missed[c];
                    return; // the stream is out of step from here
                }
                replyMs[c].push_back(msBetween(before, Clock::now()));
            }
        });

    // The panel: footswitches A and B in turn, each loading its preset.
    int clicks = 0;
    std::thread panel([&] {
        const int pipe = ::open((test_root() + "/panel").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(pipe, 0);
        for (; !stop.load(); ++clicks) {
            const std::string line = clicks % 2 ? "click b\n" : "click a\n";
            ASSERT_EQ(::write(pipe, line.data(), line.size()), ssize_t(line.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        ::close(pipe);
    });

    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    midiOut.join();
    for (auto& remote : remotes) remote.join();
    panel.join();
    // What is still on its way comes back once the control thread's next passes run.
    const auto deadline = Clock::now() + std::chrono::seconds(10 * KESTRUN_PROGRAM_SLOWDOWN);
    while (thruCount.load() < sent.size() && Clock::now() < deadline && unit.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The panel carries out its commands one after another.
    waitUntil([&] { return int(occurrences(unit.log(), "I (Panel): click ")) >= clicks || !unit.running(); },
              30000 * KESTRUN_PROGRAM_SLOWDOWN);
    drained = true;
    midiIn.join();

    std::vector<double> thruMs;
    for (size_t i = 0; i < std::min(thru.size(), sent.size()); ++i) thruMs.push_back(msBetween(sentAt[i], thruAt[i]));
    std::vector<double> replies = replyMs[0];
    replies.insert(replies.end(), replyMs[1].begin(), replyMs[1].end());
    const int changes = midiSwitches + int(replies.size()) + clicks;
    const std::string log = unit.log();
    const size_t panelDone = occurrences(log, "I (Panel): click ");
    const char* kSlept = "W (SlowAllocator): ";
    std::printf(
        "Stress, %d s%s: %d structural changes (%d from MIDI, %zu remote writes, %d "
        "footswitch preset loads)\n"
        "  MIDI thru: %zu of %zu bytes back; delay ms p50 %.1f, p99 %.1f, max %.1f (this test's reader late "
        "by up to %.1f)\n"
        "  remote writes: %zu answered, %d missed; reply ms p50 %.1f, p99 %.1f, max %.1f\n"
        "  panel: %zu of %d footswitch clicks carried out\n"
        "  threads that slept holding the allocator's lock: %zu\n",
        seconds, slowAllocator ? ", allocations slowed" : "", changes, midiSwitches, replies.size(), clicks,
        thru.size(), sent.size(), quantile(thruMs, 0.5), quantile(thruMs, 0.99), quantile(thruMs, 1.0),
        readerLateMs.load(), replies.size(), missed[0] + missed[1], quantile(replies, 0.5), quantile(replies, 0.99),
        quantile(replies, 1.0), panelDone, clicks, occurrences(log, kSlept));

    EXPECT_TRUE(unit.running()) << unit.ended();
    EXPECT_EQ(log.find(kSlept), std::string::npos) << log.substr(log.find(kSlept), 2000);
    EXPECT_EQ(thru, sent) << "every MIDI byte comes back through the thru, in order";
    EXPECT_LT(quantile(thruMs, 1.0) - readerLateMs.load(), kThruBoundMs) << "the control thread stopped for longer";
    EXPECT_EQ(missed[0] + missed[1], 0);
    EXPECT_EQ(int(panelDone), clicks);
    EXPECT_GT(changes, 1000);

    // And it still takes a change of each kind, both ways. A preset load of the last clicks may still
    // be on its way and undo one: each is made again until it shows.
    Client client(unit.port());
    auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
    for (const std::string value : {"ON", "OFF"}) {
        EXPECT_TRUE(waitUntil(
            [&] {
                keyboard.play(std::string("\xB0\x05", 2) + (value == "ON" ? '\x7F' : '\x00'));
                return waitUntil([&] { return valueOf(client, kMidiSwitch) == quoted(value); }, 500);
            },
            10000 * KESTRUN_PROGRAM_SLOWDOWN))
            << value;
        EXPECT_TRUE(waitUntil(
            [&] {
                client.ask(write(kRemoteSwitches[0], value));
                return valueOf(client, kRemoteSwitches[0]) == quoted(value);
            },
            10000 * KESTRUN_PROGRAM_SLOWDOWN))
            << value;
    }
}
