#include "AllocationCounter.h"
#include "BlockTestUtil.h"
#include "audio/EngineSupport.h"
#include "effects/Tuner.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

namespace {

using fxtest::findNode;
using fxtest::setNode;

struct Rig {
    Node* folder = fxtest::scratchFolder("tuner_block");
    Tuner* tuner = fxtest::keep(new Tuner(folder, false));
    double phase = 0.0;

    void on()
    {
        setNode(folder, "on_off", "\"ON\"");
        EXPECT_TRUE(tuner->compile());
    }
    // Feeds `samples` of a periodic wave (wave(phase in cycles)) through exec, continuing its phase.
    void play(double hz, double amp, int samples, const std::function<double(double)>& wave)
    {
        float frame[FRAME_CHANNELS][FRAME_SAMPLES];
        for (int at = 0; at < samples; at += FRAME_SAMPLES) {
            for (int i = 0; i < FRAME_SAMPLES; ++i) {
                frame[0][i] = float(amp * wave(phase));
                frame[1][i] = 0.25f;
                phase += hz / dsptest::kFs;
                phase -= std::floor(phase);
            }
            EXPECT_TRUE(Tuner::exec(tuner, frame));
            for (int c = 0; c < FRAME_CHANNELS; ++c)
                for (int i = 0; i < FRAME_SAMPLES; ++i) ASSERT_EQ(frame[c][i], 0.0f) << "tuning must be silent";
        }
    }
    void playSine(double hz, double amp, int samples)
    {
        play(hz, amp, samples, [](double p) { return std::sin(2 * std::numbers::pi * p); });
    }
    // A whole ring of the tone, then a compile pass every 10 ms of it.
    void measure(double hz, double amp = 0.5, int passes = 3)
    {
        playSine(hz, amp, Tuner::kHistory);
        for (int p = 0; p < passes; ++p) {
            tuner->compile();
            playSine(hz, amp, 480);
        }
    }
    float freqNode() { return static_cast<NodeFloat*>(findNode(folder, "tuner\\_freq"))->getValue(); }
    float levelNode() { return static_cast<NodeFloat*>(findNode(folder, "tuner\\lvl"))->getValue(); }
};

double cents(double f, double ref) { return 1200.0 * std::log2(f / ref); }

TEST(Tuner, OffPassesTheFrameAndOnMutesAndStopsTheChain)
{
    Rig rig;
    auto noise = dsptest::noise(64, 3);
    fxtest::Stereo in(noise, noise);
    // Off (the default): untouched, and the compile pass goes on.
    EXPECT_FALSE(rig.tuner->compile());
    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    for (int i = 0; i < FRAME_SAMPLES; ++i) frame[0][i] = frame[1][i] = noise[std::size_t(i)];
    EXPECT_FALSE(Tuner::exec(rig.tuner, frame));
    for (int i = 0; i < FRAME_SAMPLES; ++i) EXPECT_EQ(frame[0][i], noise[std::size_t(i)]);

    // Switching on takes effect with the next compile pass, which then stops the pass.
    setNode(rig.folder, "on_off", "\"ON\"");
    EXPECT_FALSE(rig.tuner->isActive());
    EXPECT_TRUE(rig.tuner->compile());
    EXPECT_TRUE(rig.tuner->isActive());
    rig.playSine(220, 0.5, 64);

    setNode(rig.folder, "on_off", "\"OFF\"");
    EXPECT_FALSE(rig.tuner->compile());
    for (int i = 0; i < FRAME_SAMPLES; ++i) frame[0][i] = frame[1][i] = noise[std::size_t(i)];
    EXPECT_FALSE(Tuner::exec(rig.tuner, frame));
    EXPECT_EQ(frame[1][5], noise[5]);
}

// In the engine's chain: the tuner stands in front of the blocks built before it, and while it is on
// the blocks behind it neither process frames nor get compiled, and the unit is silent.
TEST(Tuner, InTheChainSilencesAndFreezesTheBlocksBehind)
{
    TraceBlock behind("Behind", BLOCK_PREPEND);
    Rig rig;
    ManualCodec codec;
    Codec::search();
    codec.fill(0.5f, 0.25f);

    AudioProcessor::compileBlocks();
    AudioProcessor::processBlock();
    EXPECT_EQ(behind.compiles, 1);
    EXPECT_EQ(behind.processed, 1);
    EXPECT_FLOAT_EQ(codec.out[1][7], 0.25f);

    setNode(rig.folder, "on_off", "\"ON\"");
    AudioProcessor::compileBlocks();
    AudioProcessor::processBlock();
    EXPECT_EQ(behind.compiles, 1);
    EXPECT_EQ(behind.processed, 1);
    EXPECT_EQ(codec.out[0][3], 0.0f);
    EXPECT_EQ(codec.out[1][7], 0.0f);

    setNode(rig.folder, "on_off", "\"OFF\"");
    AudioProcessor::compileBlocks();
    AudioProcessor::processBlock();
    EXPECT_EQ(behind.compiles, 2);
    EXPECT_EQ(behind.processed, 2);
    EXPECT_FLOAT_EQ(codec.out[1][7], 0.25f);
}

struct PitchCase {
    const char* name;
    double hz;
    const char* ref;
    int note;
    int octave;
    double cents; // expected deviation
    bool saw; // a sawtooth, rich in harmonics like a string, instead of a sine
    double toleranceCents;
};

// The correlation window is short for low notes: on a bare sine its own edges pull the peak by a few
// cents, while a string's harmonics keep the estimate within about a cent.
TEST(Tuner, ReadsNoteOctaveAndCents)
{
    const PitchCase cases[] = {
        {"sine A2, period 436.36 (the peak may fall on a multiple)", 110.0, "440", 9, 2, 0.0, false, 6.0},
        {"A2", 110.0, "440", 9, 2, 0.0, true, 1.0},
        {"low E string", 82.4069, "440", 4, 2, 0.0, true, 1.0},
        {"drop D", 73.4162, "440", 2, 2, 0.0, true, 1.5},
        {"D3, 12 cents flat", 146.8324 * std::pow(2.0, -12.0 / 1200), "440", 2, 3, -12.0, true, 1.5},
        {"G3, 20 cents flat", 195.9977 * std::pow(2.0, -20.0 / 1200), "440", 7, 3, -20.0, true, 1.5},
        {"high E string", 329.6276, "440", 4, 4, 0.0, true, 2.0},
        {"A4 against 442", 442.0, "442", 9, 4, 0.0, false, 1.0},
        {"A4 against 432 is 32 cents sharp", 440.0, "432", 9, 4, cents(440, 432), true, 1.0},
        {"C5, 5 cents sharp", 523.2511 * std::pow(2.0, 5.0 / 1200), "440", 0, 5, 5.0, false, 2.0},
        {"E6, near the top of the range", 1318.51, "440", 4, 6, 0.0, false, 1.0},
    };
    for (const PitchCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        setNode(rig.folder, "tuner\\ref", std::string("\"") + c.ref + "\"");
        rig.on();
        auto wave = c.saw ? std::function<double(double)>([](double p) { return 2 * p - 1; })
                          : std::function<double(double)>([](double p) { return std::sin(2 * std::numbers::pi * p); });
        rig.play(c.hz, 0.4, Tuner::kHistory, wave);
        for (int p = 0; p < 3; ++p) {
            rig.tuner->compile();
            rig.play(c.hz, 0.4, 480, wave);
        }
        ASSERT_GT(rig.tuner->getPeriod(), 0.0f);
        EXPECT_NEAR(cents(48000.0 / rig.tuner->getPeriod(), c.hz), 0.0, c.toleranceCents);
        EXPECT_NEAR(cents(rig.freqNode(), c.hz), 0.0, c.toleranceCents);
        EXPECT_EQ(rig.tuner->getNote(), c.note);
        EXPECT_EQ(rig.tuner->getOctave(), c.octave);
        EXPECT_NEAR(rig.tuner->getCents(), c.cents, c.toleranceCents);
    }
}

TEST(Tuner, ShowsNoPitchForSilenceNoiseOrAVeryQuietTone)
{
    struct Case {
        const char* name;
        std::function<void(Rig&)> feed;
        float lvlMax; // dB
    };
    const Case cases[] = {
        {"silence", [](Rig& r) { r.measure(110, 0.0); }, -59.9f},
        {"tone below the energy gate", [](Rig& r) { r.measure(110, 3e-5); }, -59.9f},
        {"noise",
         [](Rig& r) {
             auto n = dsptest::noise(Tuner::kHistory * 3, 11, 0.5f);
             float frame[FRAME_CHANNELS][FRAME_SAMPLES];
             for (std::size_t at = 0; at + FRAME_SAMPLES <= n.size(); at += FRAME_SAMPLES) {
                 std::copy_n(n.begin() + long(at), FRAME_SAMPLES, frame[0]);
                 Tuner::exec(r.tuner, frame);
                 if (at % 480 == 0 && at > Tuner::kHistory) r.tuner->compile();
             }
         },
         0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.on();
        c.feed(rig);
        rig.tuner->compile();
        EXPECT_EQ(rig.tuner->getPeriod(), 0.0f);
        EXPECT_EQ(rig.freqNode(), 0.0f);
        EXPECT_EQ(rig.tuner->getNote(), 0);
        EXPECT_EQ(rig.tuner->getCents(), 0.0f);
        EXPECT_LE(rig.levelNode(), c.lvlMax);
    }
    // The same tone a little louder is read.
    Rig loud;
    loud.on();
    loud.measure(110, 1e-3);
    EXPECT_GT(loud.tuner->getPeriod(), 0.0f);
}

TEST(Tuner, NeedsTwoAgreeingEstimatesAndDropsTheDisplayOnAJump)
{
    Rig rig;
    rig.on();
    rig.playSine(110, 0.5, Tuner::kHistory);
    rig.tuner->compile();
    EXPECT_EQ(rig.tuner->getPeriod(), 0.0f) << "a first sighting is not shown";
    rig.playSine(110, 0.5, 480);
    rig.tuner->compile();
    EXPECT_EQ(rig.tuner->getNote(), 9);
    EXPECT_GT(rig.tuner->getPeriod(), 0.0f);

    // A new note (C3, 300 cents away) fills the window: no pitch, then a first sighting, then C.
    rig.playSine(130.8128, 0.5, Tuner::kHistory);
    rig.tuner->compile();
    EXPECT_EQ(rig.tuner->getPeriod(), 0.0f);
    rig.playSine(130.8128, 0.5, 480);
    rig.tuner->compile();
    EXPECT_EQ(rig.tuner->getPeriod(), 0.0f);
    rig.playSine(130.8128, 0.5, 480);
    rig.tuner->compile();
    EXPECT_EQ(rig.tuner->getNote(), 0);
    EXPECT_EQ(rig.tuner->getOctave(), 3);
    EXPECT_NEAR(rig.tuner->getPeriod(), 48000.0 / 130.8128, 0.3);
}

TEST(Tuner, LevelFollowsTheInputPeakAndHumNotchesOnlyWhenAsked)
{
    struct Case {
        const char* name;
        double hz;
        double amp;
        bool notches;
        float lvlMin, lvlMax; // dB
    };
    const Case cases[] = {
        {"440 Hz at -6 dBFS", 440, 0.5, false, -6.5f, -5.5f},
        {"440 Hz at -20 dBFS", 440, 0.1, false, -20.5f, -19.5f},
        {"50 Hz hum without notches", 50, 0.5, false, -10.0f, -5.5f},
        {"50 Hz hum with notches", 50, 0.5, true, -60.0f, -25.0f},
        {"440 Hz with notches", 440, 0.5, true, -6.5f, -5.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        if (c.notches) rig.tuner->activateDeepNotches();
        rig.on();
        rig.playSine(c.hz, c.amp, 48000 * 2);
        rig.tuner->compile();
        EXPECT_GE(rig.levelNode(), c.lvlMin);
        EXPECT_LE(rig.levelNode(), c.lvlMax);
        EXPECT_NEAR(dsptest::db(rig.tuner->getLevel()), rig.levelNode(), 0.01);
    }
}

TEST(Tuner, CentsFoldIntoOneOctave)
{
    struct Case {
        double f, ref, cents;
    };
    const Case cases[] = {
        {440, 440, 0},
        {466.1638, 440, 100},
        {880, 440, 0},
        {110, 440, 0},
        {440 * std::pow(2.0, 599.0 / 1200), 440, 599},
        {440 * std::pow(2.0, 700.0 / 1200), 440, -500},
        {440 * std::pow(2.0, -650.0 / 1200), 440, 550},
        {440 * std::pow(2.0, 2450.0 / 1200), 440, 50},
        {440 * std::pow(2.0, -3550.0 / 1200), 440, 50},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(getCentsErrorNormalized(float(c.f), float(c.ref)), c.cents, 0.05) << c.f;
}

TEST(Tuner, ExecAllocatesNothing)
{
    Rig rig;
    rig.on();
    rig.playSine(110, 0.5, Tuner::kHistory);
    float frame[FRAME_CHANNELS][FRAME_SAMPLES] = {};
    alloccount::open();
    for (int k = 0; k < 200; ++k) Tuner::exec(rig.tuner, frame);
    EXPECT_EQ(alloccount::close(), 0);
}

} // namespace
