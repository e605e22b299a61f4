// The output guard through the running program: huge samples reach the delay and the reverb, whose
// lines would replay them for good; the frame that carries them goes out silent, the blocks start
// afresh, and the tone is back at once.
#include "Unit.h"

#include "driver/model/WavReader.h"
#include "driver/model/WavWriter.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <csignal>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kWaitMs = 20000 * KESTRUN_PROGRAM_SLOWDOWN;
constexpr double kPi = 3.14159265358979323846;

// The largest magnitude over [from, from + n).
float peakOf(const std::vector<float>& x, size_t from, size_t n)
{
    float peak = 0.0f;
    for (size_t i = from; i < from + n; ++i) peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

// Amplitude of 440 Hz over [from, from + n).
double toneAt(const std::vector<float>& x, size_t from, size_t n)
{
    std::complex<double> acc = 0;
    for (size_t i = from; i < from + n; ++i)
        acc += double(x[i]) * std::polar(1.0, -2 * kPi * 440.0 * double(i) / 48000.0);
    return 2 * std::abs(acc) / double(n);
}

// A WAV input of `total` samples, both channels x(i).
void writeInput(const std::string& path, size_t total, const std::function<float(size_t)>& x)
{
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(path, error)) << error;
    for (size_t at = 0; at < total; at += 16) {
        float frame[16];
        for (size_t k = 0; k < 16; ++k) frame[k] = x(at + k);
        writer.write(frame, frame, 16);
    }
}

// Both channels of the program's output, once it holds `total` samples.
void readOutput(Unit& unit, const std::string& path, size_t total, int ms, std::vector<float>& left,
                std::vector<float>& right)
{
    WavReader reader;
    std::string error;
    ASSERT_TRUE(waitUntil([&] { return reader.open(path, error) && reader.frames() == total; }, ms)) << unit.log();
    left.assign(total, 0.0f);
    right.assign(total, 0.0f);
    for (size_t at = 0; at < total; at += 16) ASSERT_EQ(reader.read(&left[at], &right[at], 16), 16u);
}

// Every gain of the chain at the end of its knob (input gain, expression boost, compressor make-up,
// equaliser bands and level, output level, the delay's feedback and mix) over a 0.5 full-scale 1 kHz
// tone: far louder than a sound card plays, and no fault. Nothing is silenced, and the delay's
// repeats ring on after the tone.
TEST(OutputGuard, ChainAtTheEndsOfItsKnobsPlaysOnWithItsDelayTail)
{
    const std::string in = test_root() + "/tone.wav", out = test_root() + "/out.wav";
    // The settings go in over TCP during the lead-in of silence.
    const size_t lead = 4 * 48000 * KESTRUN_PROGRAM_SLOWDOWN, tone = 3 * 48000, total = lead + tone + 2 * 48000;
    ASSERT_NO_FATAL_FAILURE(writeInput(in, total, [&](size_t i) {
        return i >= lead && i < lead + tone ? float(0.5 * std::sin(2 * kPi * 1000.0 * double(i) / 48000.0)) : 0.0f;
    }));
    Unit unit;
    unit.setEnvironment("KESTRUN_AUDIO_IN", "wav:" + in);
    unit.setEnvironment("KESTRUN_AUDIO_OUT", "wav:" + out);
    const auto started = std::chrono::steady_clock::now();
    unit.start();
    {
        Client client(unit.port());
        const char* settings[] = {
            "settings\\input\\gain1:15", "app\\exp\\on_off:\"ON\"",      "app\\exp\\vfold\\on_off:\"ON\"",
            "app\\exp\\vfold\\vol:100",  "app\\exp\\vfold\\boost:12",    "app\\comp\\on_off:\"ON\"",
            "app\\comp\\md:\"Dyn\"",     "app\\comp\\sensitivity:0",     "app\\comp\\makeup:20",
            "app\\eq\\on_off:\"ON\"",    "app\\eq\\eq_nbands\\level:12", "app\\output\\pst\\level:20",
            "app\\delay\\on_off:\"ON\"", "app\\delay\\fdbk:100",         "app\\delay\\mix:50"};
        std::vector<std::string> writes(std::begin(settings), std::end(settings));
        for (int band = 0; band < 8; ++band)
            writes.push_back("app\\eq\\eq_nbands\\band_" + std::to_string(band) + ":12");
        for (const std::string& w : writes) {
            const std::string path = "root\\" + w.substr(0, w.find(':')), value = w.substr(w.find(':') + 1);
            const std::string reply = client.ask("write " + path + ":{\"value\":" + value + "}");
            ASSERT_EQ(reply.rfind(path + ":{\"value\":" + value, 0), 0u) << reply;
        }
    }
    ASSERT_LT(msSince(started), long(lead / 48)) << "the settings came after the tone had begun";

    std::vector<float> left, right;
    ASSERT_NO_FATAL_FAILURE(readOutput(unit, out, total, int(total / 48) + kWaitMs, left, right));
    const float loudest = peakOf(left, lead, tone), tail = peakOf(left, lead + tone + 4800, 48000);
    EXPECT_GT(loudest, 1000.0f) << "the settings did not make the chain as loud as it gets";
    EXPECT_GT(tail, 0.3f * loudest) << "the delay's repeats did not ring on";
    for (size_t at = lead + 4800; at < lead + tone; at += 16) ASSERT_GT(peakOf(left, at, 16), 0.0f) << "frame " << at;
    EXPECT_EQ(unit.log().find("Output not finite"), std::string::npos) << unit.log();
}

// Bursts of 1e30 two seconds apart (each a burst of the guard's log of its own) in a 440 Hz tone:
// the frames that carry them are silent, the rest finite and bounded, the tone back at its level 64
// samples after each burst, and each burst logged once.
TEST(OutputGuard, BurstOfHugeSamplesLeavesTheOutputCleanAfterwards)
{
    const std::string in = test_root() + "/bursts.wav", out = test_root() + "/out.wav";
    const size_t total = 48000 * 5, bursts[] = {48000 + 5, 3 * 48000 + 21};
    ASSERT_NO_FATAL_FAILURE(writeInput(in, total, [&](size_t i) {
        for (size_t b : bursts)
            if (i >= b && i < b + 8) return 1e30f;
        return float(0.25 * std::sin(2 * kPi * 440.0 * double(i) / 48000.0));
    }));

    Unit unit;
    unit.start();
    {
        Client client(unit.port());
        client.ask(
            "write root\\app\\delay\\on_off:{\"value\":\"ON\"}\r\nwrite root\\app\\reverb\\on_off:{\"value\":\"ON\"}");
    }
    ASSERT_EQ(unit.stop(SIGTERM, kWaitMs), 0) << unit.log();
    unit.setEnvironment("KESTRUN_AUDIO_IN", "wav:" + in);
    unit.setEnvironment("KESTRUN_AUDIO_OUT", "wav:" + out);
    unit.start();

    std::vector<float> left, right;
    ASSERT_NO_FATAL_FAILURE(readOutput(unit, out, total, kWaitMs + 10000, left, right));
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
    EXPECT_EQ(occurrences(log,
                          "ERROR (AudioProcessor): Output not finite or beyond +580 dBFS: frame silenced, "
                          "every block reset"),
              2u)
        << log;
    EXPECT_NE(log.find("every block reset (1 frames so far)"), std::string::npos);
    EXPECT_NE(log.find("every block reset (2 frames so far)"), std::string::npos);
}

} // namespace
