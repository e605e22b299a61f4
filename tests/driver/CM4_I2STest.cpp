#include "driver/CM4_I2S.h"
#include "FakeI2SBus.h"
#include "driver/Codec.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using Access = FakeI2SBus::Access;
constexpr uint32_t G = CM4_I2S::kGpioBase, C = CM4_I2S::kClockBase, P = CM4_I2S::kPcmBase;

// Streams `words` in on the line and starts the codec.
void startWithLine(FakeI2SBus& bus, CM4_I2S& codec, std::vector<uint32_t> words)
{
    auto feed = std::make_shared<std::vector<uint32_t>>(std::move(words));
    auto next = std::make_shared<size_t>(0);
    bus.lineIn = [feed, next] { return *next < feed->size() ? (*feed)[(*next)++] : 0u; };
    ASSERT_FALSE(codec.start(nullptr));
}

} // namespace

TEST(CM4_I2S, ProbeRoutesPins18To21AndKeepsTheOtherPins)
{
    FakeI2SBus bus;
    bus.gpio[CM4_I2S::kGpfsel1] = 0xffffffff;
    bus.gpio[CM4_I2S::kGpfsel2] = 0x12345fff;
    CM4_I2S codec(bus);
    StdoutCapture out;
    EXPECT_TRUE(codec.initialize());
    EXPECT_NE(out.text().find("I (CM4_I2S): GPIO 18-21 configured for PCM (ALT0)\n"), std::string::npos);
    EXPECT_EQ(bus.gpio[CM4_I2S::kGpfsel1], 0xe4ffffffu);
    EXPECT_EQ(bus.gpio[CM4_I2S::kGpfsel2], 0x12345fe4u);
    EXPECT_EQ(bus.openWindows, 0);
}

TEST(CM4_I2S, FailedGpioMappingFailsTheSearch)
{
    FakeI2SBus bus;
    bus.refuse[G] = true;
    CM4_I2S codec(bus); // registers itself
    StdoutCapture out;
    Codec::search();
    std::string text = out.text();
    EXPECT_NE(text.find("I (Codec): CM4_I2S search\n"), std::string::npos);
    EXPECT_NE(text.find("ERROR (CM4_I2S): Failed to map GPIO\n"), std::string::npos);
    EXPECT_NE(text.find("I (Codec): CM4_I2S not found\n"), std::string::npos);
    EXPECT_NE(text.find("ERROR (Codec): No audio codec connected\n"), std::string::npos);
    EXPECT_EQ(Codec::getActiveCodec(), nullptr);
    EXPECT_FALSE(Codec::audioRead(1.0f));
}

TEST(CM4_I2S, StartProgramsClockAndBlockInOrder)
{
    FakeI2SBus bus;
    bus.clock[CM4_I2S::kCmPcmCtl] = 0x5a000206;
    CM4_I2S codec(bus);
    StdoutCapture out;
    EXPECT_FALSE(codec.start(nullptr));
    std::string text = out.text();
    EXPECT_NE(text.find("I (I2S-RPI): Clock configured\n"), std::string::npos);
    EXPECT_NE(text.find("I (I2S-RPI): Codec configured\n"), std::string::npos);
    const std::vector<Access> expected = {
        {'M', C, 0, 512},
        {'W', C, 0x9c, 0x5a0f4240},
        {'D', 0, 0, 10},
        {'W', C, 0x98, 0x5a000206},
        {'D', 0, 0, 10},
        {'D', 0, 0, 10},
        {'W', C, 0x98, 0x5a000216},
        {'U', 0, 0, 0},
        {'M', P, 0, 24},
        {'W', P, 0x00, 0},
        {'D', 0, 0, 10},
        {'W', P, 0x00, 0x138 | FakeI2SBus::kTxw | FakeI2SBus::kTxd | FakeI2SBus::kTxe},
        {'D', 0, 0, 10},
        {'W', P, 0x10, 0xc018c218},
        {'W', P, 0x0c, 0xc018c218},
        {'W', P, 0x08, 0x0050fc20},
        // The status flags read back (TX FIFO empty) are not writable; the model ignores them.
        {'W', P, 0x00, 0x02000120 | FakeI2SBus::kTxw | FakeI2SBus::kTxd | FakeI2SBus::kTxe},
        {'D', 0, 0, 100},
        {'W', P, 0x00, 0x02000121 | FakeI2SBus::kTxw | FakeI2SBus::kTxd | FakeI2SBus::kTxe},
        {'D', 0, 0, 100},
    };
    ASSERT_GE(bus.log.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(bus.log[i], expected[i]) << "access " << i;
    EXPECT_EQ(bus.log[expected.size()].offset, 0u);
    EXPECT_EQ(bus.pcmRegs[0] & 0x02800127u, 0x02800127u); // standby off, RX sign extension, TX, RX, enable
}

TEST(CM4_I2S, StartThatCannotMapEndsTheAudioThread)
{
    for (uint32_t refused : {C, P}) {
        FakeI2SBus bus;
        bus.refuse[refused] = true;
        CM4_I2S codec(bus);
        EXPECT_TRUE(codec.start(nullptr)) << std::hex << refused;
        EXPECT_EQ(bus.openWindows, 0);
    }
}

TEST(CM4_I2S, ReadConvertsNegatedWordsAndSwapsPairs)
{
    struct Case {
        uint32_t first, second; // as they arrive in a pair
        float channel1, channel0;
    };
    const Case cases[] = {
        {0x80000000u, 0x00000000u, -1.0f, 0.0f}, // -2^31 negated stays -2^31
        {0x40000000u, 0xc0000000u, -0.5f, 0.5f},
        {0xffffffffu, 0x00000001u, 1.0f / 2147483648.0f, -1.0f / 2147483648.0f},
    };
    std::vector<uint32_t> words;
    for (int k = 0; k < 16; ++k) {
        words.push_back(cases[k % 3].first);
        words.push_back(cases[k % 3].second);
    }
    FakeI2SBus bus;
    CM4_I2S codec(bus);
    startWithLine(bus, codec, words);
    int polls = 0;
    while (!codec.audioRead(2.0f)) ASSERT_LT(++polls, 1000);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(Codec::data[1][k], 2.0f * cases[k % 3].channel1) << k;
        EXPECT_EQ(Codec::data[0][k], 2.0f * cases[k % 3].channel0) << k;
    }
    EXPECT_EQ(bus.rxOverruns, 0);
    EXPECT_EQ(bus.emptyReads, 0);
}

TEST(CM4_I2S, WriteClampsRoundsAndAddsOneLsb)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float sample;
        int32_t word;
    };
    const Case cases[] = {
        {1.0f, 2147482625}, {-1.0f, -2147482623}, {0.0f, 1},          {nan, 1},
        {inf, 2147482625},  {-inf, -2147482623},  {0.5f, 1073741825}, {-0.25f, -536870911},
        {3.0f, 2147482625}, {1e-9f, 3}, // 2.147 rounds toward zero to 2, plus one
    };
    FakeI2SBus bus;
    CM4_I2S codec(bus);
    startWithLine(bus, codec, {});
    const int n = int(std::size(cases));
    for (int k = 0; k < 16; ++k) {
        Codec::data[0][k] = cases[k % n].sample;
        Codec::data[1][k] = -0.5f;
    }
    ASSERT_TRUE(codec.audioWrite(1.0f));
    ASSERT_EQ(bus.txFifo.size(), 32u);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(int32_t(bus.txFifo[2 * k]), cases[k % n].word) << "sample " << cases[k % n].sample;
        EXPECT_EQ(int32_t(bus.txFifo[2 * k + 1]), -1073741823);
    }
}

TEST(CM4_I2S, WriteWaitsForRoomAndSwapsWhenAsked)
{
    FakeI2SBus bus;
    CM4_I2S codec(bus);
    codec.swapWrite = true;
    startWithLine(bus, codec, {});
    for (int k = 0; k < 16; ++k) {
        Codec::data[0][k] = 0.0f;
        Codec::data[1][k] = 1.0f;
    }
    ASSERT_TRUE(codec.audioWrite(0.5f));
    ASSERT_TRUE(codec.audioWrite(0.5f)); // FIFO holds 32 of 64: must wait until fewer than 16
    EXPECT_EQ(bus.fullWrites, 0);
    EXPECT_LT(bus.txFifo.size(), 48u);
    EXPECT_EQ(int32_t(bus.txFifo.back()), 1); // channel 0 second
    EXPECT_EQ(int32_t(bus.txFifo.front()), 1073741825); // channel 1 first
}

TEST(CM4_I2S, StreamsFrameAfterFrameWithoutLosingWords)
{
    // A loop as "audioLoop" runs it: each received frame is sent back unchanged.
    FakeI2SBus bus;
    CM4_I2S codec(bus);
    uint32_t counter = 0;
    std::vector<uint32_t> sent;
    bus.lineIn = [&] {
        uint32_t word = (counter++ * 2654435761u) & 0x7fffff00u; // small enough to survive the clamp
        sent.push_back(word);
        return word;
    };
    ASSERT_FALSE(codec.start(nullptr));
    const int frames = 500;
    size_t firstOut = 0;
    for (int f = 0; f < frames; ++f) {
        int polls = 0;
        while (!codec.audioRead(1.0f)) ASSERT_LT(++polls, 1000);
        if (f == 0) {
            firstOut = bus.lineOut.size();
            bus.txUnderruns = 0; // the line ran before the first frame was written
        }
        ASSERT_TRUE(codec.audioWrite(1.0f));
    }
    EXPECT_EQ(bus.rxOverruns, 0);
    EXPECT_EQ(bus.txUnderruns, 0);
    EXPECT_EQ(bus.emptyReads, 0);
    // Read negates and write adds one; by default the received pair lands swapped in the channels and
    // goes out unswapped, so each pair comes back in the other order.
    ASSERT_GT(bus.lineOut.size(), firstOut + 1000);
    for (size_t i = 0; i + firstOut < bus.lineOut.size() && i < sent.size(); ++i)
        ASSERT_EQ(bus.lineOut[firstOut + i], uint32_t(0u - sent[i ^ 1]) + 1u) << i;
}
