// The panel's shift-register array, driven through the host model of the SPI chain.
#include "driver/IOArray.h"
#include "platform/model/SpiChain.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <barrier>
#include <chrono>
#include <functional>
#include <thread>

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs = 3000)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Prepares every free slot and waits until the chain has carried them all.
std::vector<std::vector<uint8_t>> sendRing()
{
    uint64_t before = SpiChain::transfers();
    int prepared = 0;
    while (IOArray::task_send()) ++prepared;
    IOArray::running = true;
    EXPECT_TRUE(waitFor([&] { return SpiChain::transfers() >= before + uint64_t(prepared); }));
    return SpiChain::takeSent();
}

// Consumes received frames; the results of has_data in order, up to the first 0.
std::vector<int> drain()
{
    std::vector<int> results;
    for (int r; (r = IOArray::has_data()) != 0;) results.push_back(r);
    return results;
}

size_t count(const std::string& text, const std::string& line)
{
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

} // namespace

TEST(IOArray, UnitConfiguration)
{
    StdoutCapture out;
    IOArray::initialize(24, 5000, 100, 32, -2, -2, -2, -2);
    IOArray::initialize(24, 5000, 100, 32, -2, -2, -2, -2);
    ASSERT_TRUE(waitFor([] { return SpiChain::mode() == 2; }));
    std::string text = out.text();
    EXPECT_EQ(count(text, "I (IO Array): Initialized freq = 120000, max_io = 24, queue = 500\n"), 1u) << text;
    EXPECT_EQ(count(text, "W (IO Array): already initialized\n"), 1u);
    EXPECT_EQ(IOArray::block_size, 3);
    EXPECT_EQ(IOArray::get_max_io(), 24);
    EXPECT_EQ(IOArray::get_max_pwm(), 32);
    EXPECT_EQ(IOArray::ms_to_tick(100), 500);
    EXPECT_EQ(IOArray::ms_to_tick(1), 5);
    // Long idle periods at this frame rate pass the int range in the product.
    EXPECT_EQ(IOArray::ms_to_tick(600000), 3000000);

    // The unit's pace: 24 bits at 120 kHz are 200 us a frame, so 50 frames take 10 ms on the wire.
    IOArray::tasks();
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([] { return SpiChain::transfers() >= 100; }));
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(elapsed, std::chrono::milliseconds(18));
    EXPECT_EQ(SpiChain::speed(), 120000u);
}

TEST(IOArray, SmallConfigurationAndPwmDepth)
{
    struct Case {
        int depth;
        int expected;
        bool warns;
    } cases[] = {{30, 256, true}, {16, 16, false}, {0, 16, true}, {-4, 16, true}, {1, 1, false}, {64, 64, false}};
    StdoutCapture out;
    IOArray::initialize(10, 100, 10, cases[0].depth, -2, -2, -2, -2);
    std::string text = out.text();
    EXPECT_NE(text.find("W (IO Array): pwm depth must be a power of 2\n"), std::string::npos);
    EXPECT_NE(text.find("I (IO Array): Initialized freq = 1600, max_io = 16, queue = 2\n"), std::string::npos);
    EXPECT_EQ(IOArray::block_size, 2);
    EXPECT_EQ(IOArray::get_max_pwm(), 256);
    for (size_t i = 1; i < std::size(cases); ++i) {
        StdoutCapture step;
        IOArray::set_pwm_depth(cases[i].depth);
        EXPECT_EQ(IOArray::get_max_pwm(), cases[i].expected) << cases[i].depth;
        EXPECT_EQ(step.text().find("pwm depth must be a power of 2") != std::string::npos, cases[i].warns);
    }
    // Two slots: one frame in flight at a time.
    EXPECT_TRUE(IOArray::task_send());
    EXPECT_FALSE(IOArray::task_send());
}

TEST(IOArray, NothingBeforeInitialize)
{
    IOArray::set_bit(0, 1);
    IOArray::set_pwm(0, 4);
    IOArray::set_byte(0, 0xFF);
    IOArray::set_pwm_depth(8);
    IOArray::tasks();
    EXPECT_FALSE(IOArray::task_send());
    EXPECT_EQ(IOArray::has_data(), 0);
    EXPECT_EQ(IOArray::get_bit(0), 0);
    EXPECT_EQ(IOArray::get_byte(0), 0);
    EXPECT_EQ(IOArray::get_output_status(0), 0);
    EXPECT_EQ(IOArray::get_max_pwm(), 0);
    EXPECT_EQ(IOArray::get_max_io(), 0);
    EXPECT_EQ(IOArray::ms_to_tick(1000), 0);
    EXPECT_EQ(SpiChain::transfers(), 0u);
}

TEST(IOArray, OutputBitsTravelInReversedByteOrder)
{
    SpiChain::setPaced(false);
    IOArray::initialize(24, 5000, 10, 32, -2, -2, -2, -2);
    struct Case {
        int bit;
        unsigned char value;
    } steps[] = {{0, 1}, {9, 1}, {23, 1}, {-1, 1}, {24, 1}, {100, 1}, {5, 7}, {5, 0}};
    for (const auto& s : steps) IOArray::set_bit(s.bit, s.value);
    EXPECT_EQ(IOArray::get_output_status(0), 0x80);
    EXPECT_EQ(IOArray::get_output_status(1), 0x02);
    EXPECT_EQ(IOArray::get_output_status(2), 0x01);
    EXPECT_EQ(IOArray::get_output_status(3), 0);
    auto frames = sendRing();
    ASSERT_EQ(frames.size(), 49u);
    for (const auto& frame : frames) EXPECT_EQ(frame, (std::vector<uint8_t>{0x80, 0x02, 0x01}));

    // Byte access: output byte i lives at the reversed position.
    drain();
    IOArray::set_byte(0, 0xA5);
    IOArray::set_byte(3, 0xFF);
    IOArray::set_byte(-1, 0xFF);
    EXPECT_EQ(IOArray::get_output_status(2), 0xA5);
    frames = sendRing();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), (std::vector<uint8_t>{0x80, 0x02, 0xA5}));
}

TEST(IOArray, InputBitsAndChangeReports)
{
    SpiChain::setPaced(false);
    SpiChain::setInputs({0x01, 0x00, 0x80});
    IOArray::initialize(24, 5000, 10, 32, -2, -2, -2, -2);
    sendRing();
    std::vector<int> results = drain();
    ASSERT_EQ(results.size(), 49u);
    EXPECT_EQ(results.front(), 2);
    EXPECT_EQ(std::count(results.begin(), results.end(), 1), 48);
    struct Case {
        int bit;
        int value;
    } bits[] = {{0, 1}, {1, 0}, {7, 0}, {8, 0}, {23, 1}, {22, 0}, {-1, 0}, {24, 0}};
    for (const auto& b : bits) EXPECT_EQ(IOArray::get_bit(b.bit), b.value) << b.bit;
    EXPECT_EQ(IOArray::get_byte(2), 0x80);
    EXPECT_EQ(IOArray::get_byte(3), 0);

    // The ring's slots came back: a change is delivered on the next round, once.
    SpiChain::setInputs({0x00, 0x10, 0x80});
    sendRing();
    results = drain();
    ASSERT_EQ(results.size(), 49u);
    EXPECT_EQ(results.front(), 2);
    EXPECT_EQ(std::count(results.begin(), results.end(), 2), 1);
    EXPECT_EQ(IOArray::get_bit(0), 0);
    EXPECT_EQ(IOArray::get_bit(12), 1);
}

TEST(IOArray, SoftwarePwm)
{
    SpiChain::setPaced(false);
    IOArray::initialize(24, 5000, 40, 32, -2, -2, -2, -2); // 200 slots
    struct Case {
        int bit;
        bool on;
        int level;
        int onFrames; // per period of 32
    } outputs[] = {{4, true, 8, 8},  {7, true, -1, 32},  {2, true, 0, 0},  {5, true, 32, 32},
                   {6, false, 8, 0}, {3, true, 100, 32}, {12, true, 1, 1}, {20, true, 31, 31}};
    for (const auto& o : outputs) {
        IOArray::set_bit(o.bit, o.on);
        IOArray::set_pwm(o.bit, o.level);
    }
    auto frames = sendRing();
    ASSERT_EQ(frames.size(), 199u);
    for (const auto& o : outputs) {
        int byte = IOArray::block_size - 1 - o.bit / 8;
        for (size_t f = 0; f < 192; ++f) {
            bool lit = (frames[f][size_t(byte)] >> (o.bit % 8)) & 1;
            // The phase starts at 0 with the first frame: a level L lights the first L of every 32.
            EXPECT_EQ(lit, int(f % 32) < o.onFrames) << "bit " << o.bit << " frame " << f;
        }
    }
    // Switching PWM off restores the plain output.
    drain();
    IOArray::set_pwm(4, -1);
    frames = sendRing();
    for (const auto& frame : frames) EXPECT_TRUE((frame[2] >> 4) & 1);
}

TEST(IOArray, FailedTransfersLoseOnlyTheirFrames)
{
    SpiChain::setPaced(false);
    SpiChain::setInputs({0x5A});
    IOArray::initialize(8, 1000, 10, 32, -2, -2, -2, -2); // 10 slots of one byte, 1 ms a frame
    SpiChain::setTransferFailure(true);
    StdoutCapture out;
    for (int round = 0; round < 3; ++round) {
        int prepared = 0;
        while (IOArray::task_send()) ++prepared;
        ASSERT_EQ(prepared, 9) << round; // no slot was lost in the round before
        // Every slot comes back, with nothing to deliver.
        ASSERT_TRUE(waitFor([] {
            EXPECT_EQ(IOArray::has_data(), 0);
            return IOArray::start == IOArray::end;
        }));
    }
    std::string text = out.text();
    EXPECT_EQ(count(text, "ERROR (IO Array): Transmission error\n"), 1u) << text;
    EXPECT_EQ(IOArray::get_byte(0), 0);

    SpiChain::setTransferFailure(false);
    sendRing();
    EXPECT_EQ(IOArray::has_data(), 2);
    EXPECT_EQ(IOArray::get_byte(0), 0x5A);
}

TEST(IOArray, MissingBusReportsAndKeepsPace)
{
    SpiChain::setPresent(false);
    StdoutCapture out;
    IOArray::initialize(8, 1000, 10, 32, -2, -2, -2, -2);
    IOArray::tasks();
    ASSERT_TRUE(waitFor([] {
        IOArray::has_data();
        return IOArray::start == IOArray::end;
    }));
    std::string text = out.text();
    EXPECT_NE(text.find("ERROR (IO Array): Open SPI error\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ERROR (IO Array): SPI mode set error "), std::string::npos);
    EXPECT_NE(text.find("ERROR (IO Array): SPI mode read set error "), std::string::npos);
    EXPECT_EQ(count(text, "Transmission error"), 1u);
    EXPECT_EQ(SpiChain::transfers(), 0u);
}

TEST(IOArray, EmptyQueueWarningOnlyWhenRunning)
{
    SpiChain::setPaced(false);
    IOArray::initialize(8, 1000, 10, 32, -2, -2, -2, -2);
    StdoutCapture out;
    IOArray::tasks(); // the first fill: the chain has not run yet
    ASSERT_TRUE(waitFor([] { return SpiChain::transfers() >= 9; }));
    drain();
    IOArray::tasks(); // everything sent was consumed: the chain ran dry
    IOArray::tasks(); // the ring is full again: nothing to say
    // Running dry again is said at the 2nd, 4th, 8th... time, not every time.
    for (int time = 2; time <= 4; ++time) {
        ASSERT_TRUE(waitFor([] { return SpiChain::transfers() >= 9 + 9 * uint64_t(IOArray::dryPasses); }));
        drain();
        IOArray::tasks();
    }
    EXPECT_EQ(count(out.text(), "W (IO Array): output queue is empty\n"), 3u);
    EXPECT_EQ(count(out.text(), "I (IO Array): previous message repeated 1 times\n"), 1u);
}

TEST(IOArray, SettersOfSeveralThreadsKeepEachOthersBits)
{
    SpiChain::setPaced(false);
    IOArray::initialize(8, 1000, 10, 32, -2, -2, -2, -2);
    constexpr int kRounds = 200;
    std::barrier sync(3);
    auto setter = [&](int firstBit) {
        for (int r = 0; r < kRounds; ++r) {
            sync.arrive_and_wait();
            // Switch the own bits on and off, ending on, while the other thread does the same.
            for (int k = 0; k < 301; ++k) {
                for (int b = firstBit; b < firstBit + 4; ++b) IOArray::set_bit(b, k % 2 == 0);
            }
            sync.arrive_and_wait();
        }
    };
    std::thread a(setter, 0), b(setter, 4);
    int lost = 0;
    for (int r = 0; r < kRounds; ++r) {
        IOArray::set_byte(0, 0);
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        if (IOArray::get_output_status(0) != 0xFF) ++lost;
    }
    a.join();
    b.join();
    EXPECT_EQ(lost, 0);
}
