#include "effects/Tuner.h"
#include "BlockTestUtil.h"
#include "audio/EngineSupport.h"
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

double cents(double f, double ref)
{
    return 1200.0 * std::log2(f / ref);
}

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

enum class Tone { Sine, Harmonics, Plucked };

// One sample of a test tone at time t (s), within +-0.5: a sine; eight harmonics falling as 1/h
// (a string's spectrum); or the same eight harmonics plucked at t = 0, each fading the faster the
// higher it is (from 5 dB/s on a low fundamental to some 250 dB/s at 10 kHz).
double toneAt(Tone tone, double hz, double t)
{
    if (tone == Tone::Sine) return 0.5 * std::sin(2 * std::numbers::pi * hz * t);
    double v = 0.0;
    for (int h = 1; h <= 8; ++h) {
        double amp = 1.0 / h;
        if (tone == Tone::Plucked) amp *= std::pow(10.0, -(3.0 + h * hz / 40.0) * t / 20.0);
        v += amp * std::sin(2 * std::numbers::pi * h * hz * t + 0.7 * h * h);
    }
    return 0.25 * v;
}

// Every semitone from the low E of a 5-string bass (E1, 41.2 Hz) to the top fret of a guitar's high
// E (E6, 1318.5 Hz), in tune and 10 cents off either way, from silence. The note shows as soon as
// the newest half window and one period behind it hold the note, plus the pass that confirms it;
// from 150 ms on it reads the right note and octave within 2 cents.
TEST(Tuner, ReadsEverySemitoneOfTheGuitarRangeWithinTwoCents)
{
    constexpr int kPasses = 20, kSettledPass = 15, kPassSamples = 480;
    const char* names[] = {"sine", "harmonics", "plucked"};
    for (Tone tone : {Tone::Sine, Tone::Harmonics, Tone::Plucked}) {
        for (int semitone = 0; semitone <= 60; ++semitone) {
            for (double detune : {-10.0, 0.0, 10.0}) {
                const double hz = 41.20344 * std::pow(2.0, (semitone + detune / 100.0) / 12.0);
                SCOPED_TRACE(std::string(names[int(tone)]) + " " + std::to_string(hz) + " Hz");
                Rig rig;
                rig.on();
                const double period = 48000.0 / hz;
                const int due = int(std::ceil((2048 + period) / kPassSamples)) + 1;
                int shownAt = 0;
                long n = 0;
                float frame[FRAME_CHANNELS][FRAME_SAMPLES];
                for (int pass = 1; pass <= kPasses; ++pass) {
                    for (int at = 0; at < kPassSamples; at += FRAME_SAMPLES) {
                        for (int i = 0; i < FRAME_SAMPLES; ++i, ++n)
                            frame[0][i] = float(toneAt(tone, hz, double(n) / 48000.0));
                        Tuner::exec(rig.tuner, frame);
                    }
                    rig.tuner->compile();
                    if (shownAt == 0 && rig.tuner->getPeriod() > 0.0f) shownAt = pass;
                    if (pass < kSettledPass) continue;
                    ASSERT_GT(rig.tuner->getPeriod(), 0.0f);
                    ASSERT_EQ(rig.tuner->getNote(), (semitone + 4) % 12);
                    ASSERT_EQ(rig.tuner->getOctave(), 1 + (semitone + 4) / 12);
                    ASSERT_NEAR(rig.tuner->getCents(), detune, 2.0);
                    ASSERT_NEAR(cents(rig.freqNode(), hz), 0.0, 2.0);
                }
                EXPECT_GE(shownAt, 1);
                EXPECT_LE(shownAt, due);
            }
        }
    }
}

// The reference A moves every note with it, exactly; noise on the input does not move the reading.
TEST(Tuner, FollowsTheReferenceAndIgnoresNoise)
{
    struct Case {
        const char* name;
        double hz;
        const char* ref;
        int note;
        int octave;
        double cents;
        float noise; // uniform noise, peak, against a tone of +-0.4
    };
    const Case cases[] = {
        {"A4 against 442", 442.0, "442", 9, 4, 0.0, 0.0f},
        {"A4 against 432 is 32 cents sharp", 440.0, "432", 9, 4, cents(440, 432), 0.0f},
        {"E2 against 448", 82.4069 * 448 / 440, "448", 4, 2, 0.0, 0.0f},
        {"low B, 5 cents flat, 30 dB above the noise", 30.8677 * 2 * std::pow(2.0, -5.0 / 1200), "440", 11, 1, -5.0,
         0.02f},
        {"G3 30 dB above the noise", 195.9977, "440", 7, 3, 0.0, 0.02f},
        {"E6 30 dB above the noise", 1318.51, "440", 4, 6, 0.0, 0.02f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        setNode(rig.folder, "tuner\\ref", std::string("\"") + c.ref + "\"");
        rig.on();
        auto noise = dsptest::noise(48000, 17, c.noise);
        std::size_t at = 0;
        auto wave = [&](double p) {
            at = (at + 1) % noise.size();
            return 0.8 * toneAt(Tone::Harmonics, 1.0, p) + double(noise[at]);
        };
        rig.play(c.hz, 1.0, Tuner::kHistory, wave);
        for (int p = 0; p < 15; ++p) {
            rig.tuner->compile();
            rig.play(c.hz, 1.0, 480, wave);
        }
        rig.tuner->compile();
        ASSERT_GT(rig.tuner->getPeriod(), 0.0f);
        EXPECT_EQ(rig.tuner->getNote(), c.note);
        EXPECT_EQ(rig.tuner->getOctave(), c.octave);
        EXPECT_NEAR(rig.tuner->getCents(), c.cents, c.noise > 0.0f ? 1.0 : 0.2);
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
    for (const Case& c : cases) EXPECT_NEAR(getCentsErrorNormalized(float(c.f), float(c.ref)), c.cents, 0.05) << c.f;
}

} // namespace
