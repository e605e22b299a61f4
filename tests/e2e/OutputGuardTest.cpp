// The output guard through the running program: huge samples reach the delay and the reverb, whose
// lines would replay them for good; the frame that carries them goes out silent, the blocks start
// afresh, and the tone is back at once.
#include "Unit.h"

#include "driver/model/WavReader.h"
#include "driver/model/WavWriter.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <csignal>
#include <vector>

namespace {

constexpr int kWaitMs = 20000 * KESTRUN_PROGRAM_SLOWDOWN;
constexpr double kPi = 3.14159265358979323846;

// Amplitude of 440 Hz over [from, from + n).
double toneAt(const std::vector<float>& x, size_t from, size_t n)
{
    std::complex<double> acc = 0;
    for (size_t i = from; i < from + n; ++i) acc += double(x[i]) * std::polar(1.0, -2 * kPi * 440.0 * double(i) / 48000.0);
    return 2 * std::abs(acc) / double(n);
}

// Bursts of 1e30 two seconds apart (each a burst of the guard's log of its own) in a 440 Hz tone:
// the frames that carry them are silent, the rest finite and bounded, the tone back at its level 64
// samples after each burst, and each burst logged once.
TEST(OutputGuard, BurstOfHugeSamplesLeavesTheOutputCleanAfterwards)
{
    const std::string in = test_root() + "/bursts.wav", out = test_root() + "/out.wav";
    const size_t total = 48000 * 5, bursts[] = {48000 + 5, 3 * 48000 + 21};
    {
        WavWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(in, error)) << error;
        for (size_t at = 0; at < total; at += 16) {
            float frame[16];
            for (size_t k = 0; k < 16; ++k) {
                const size_t i = at + k;
                frame[k] = float(0.25 * std::sin(2 * kPi * 440.0 * double(i) / 48000.0));
                for (size_t b : bursts)
                    if (i >= b && i < b + 8) frame[k] = 1e30f;
            }
            writer.write(frame, frame, 16);
        }
    }

    Unit unit;
    unit.start();
    {
        Client client(unit.port());
        client.ask("write root\\app\\delay\\on_off:{\"value\":\"ON\"}\r\nwrite root\\app\\reverb\\on_off:{\"value\":\"ON\"}");
    }
    ASSERT_EQ(unit.stop(SIGTERM, kWaitMs), 0) << unit.log();
    unit.setEnvironment("KESTRUN_AUDIO_IN", "wav:" + in);
    unit.setEnvironment("KESTRUN_AUDIO_OUT", "wav:" + out);
    unit.start();

    WavReader reader;
    std::string error;
    ASSERT_TRUE(waitUntil([&] { return reader.open(out, error) && reader.frames() == total; }, kWaitMs + 10000))
        << unit.log();
    std::vector<float> left(total), right(total);
    for (size_t at = 0; at < total; at += 16) ASSERT_EQ(reader.read(&left[at], &right[at], 16), 16u);
    for (size_t i = 0; i < total; ++i)
        ASSERT_TRUE(std::fabs(left[i]) < 4.0f && std::fabs(right[i]) < 4.0f) << "sample " << i << ": " << left[i];
    for (size_t b : bursts) {
        SCOPED_TRACE(b);
        for (size_t i = b / 16 * 16; i < b / 16 * 16 + 16; ++i) EXPECT_EQ(left[i], 0.0f);
        const double before = toneAt(left, b - 9600, 4800), after = toneAt(left, b + 64, 4800);
        EXPECT_GT(before, 0.05);
        EXPECT_NEAR(20 * std::log10(after / before), 0.0, 6.0);
    }
    const std::string log = unit.log();
    EXPECT_EQ(occurrences(log, "ERROR (AudioProcessor): Output not finite or beyond +60 dBFS: frame silenced, "
                               "every block reset"),
              2u)
        << log;
    EXPECT_NE(log.find("every block reset (1 frames so far)"), std::string::npos);
    EXPECT_NE(log.find("every block reset (2 frames so far)"), std::string::npos);
}

} // namespace
