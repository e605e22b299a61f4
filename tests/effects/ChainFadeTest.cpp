// Blocks in a running engine: switching a block on is hidden behind the fade, so the output never
// jumps although the block changes the level at once.
#include "BlockTestUtil.h"
#include "audio/EngineSupport.h"
#include "effects/Equalizer.h"
#include "effects/NoiseGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

// Starts the engine on a codec moved by the test; the chain is what was built before.
ManualCodec* startEngine()
{
    auto* codec = new ManualCodec;
    Codec::search();
    AudioProcessor::audioInitialize(true);
    for (int i = 0; i < 5000 && !codec->started; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(codec->started);
    return codec;
}

// A block with one structural setting that it finds changed by itself (no change callback).
class StructureProbe : public AudioBlock {
public:
    StructureProbe() : AudioBlock("Probe", nullptr, &StructureProbe::exec, BLOCK_APPEND) {}
    bool compile() override
    {
        if (fx::takeStructure(held, live.load())) {
            gainAtTake.store(AudioProcessor::getDebounceVolume());
            taken.store(held);
        }
        return false;
    }
    static bool exec(AudioBlock*, AudioFrame) { return false; }

    std::atomic<int> live{0};
    std::atomic<int> taken{0};
    std::atomic<float> gainAtTake{1.0f};

private:
    int held = 0; // compile thread
};

// A structural change is handed over only at the quiet point: the block asks for the fade itself,
// and the pass that takes the change runs while the fade gain is at its floor.
TEST(ChainFade, StructureIsTakenOnlyAtTheQuietPoint)
{
    makeSystemTree();
    auto* probe = fxtest::keep(new StructureProbe);
    ManualCodec* codec = startEngine();
    // Frames flow first: before they do, nothing is heard and a change is taken at once.
    for (int k = 0; k < 100; ++k) AudioProcessor::processBlock();
    int counted = 0;
    for (int change = 1; change <= 20; ++change) {
        probe->live.store(change);
        // Frames held up longer than the engine's window count as no audio at all: a change may then
        // be taken at once (a loaded machine can do that to this thread). Such changes are left out.
        auto last = std::chrono::steady_clock::now();
        bool stalled = false;
        for (int k = 0; k < 20000 && probe->taken.load() != change; ++k) {
            AudioProcessor::processBlock();
            const auto now = std::chrono::steady_clock::now();
            stalled |= now - last > std::chrono::milliseconds(40);
            last = now;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        ASSERT_EQ(probe->taken.load(), change) << "never taken";
        if (!stalled) {
            EXPECT_LT(probe->gainAtTake.load(), 0.011f) << "change " << change;
            ++counted;
        }
        for (int k = 0; k < 20000 && AudioProcessor::getCompilerStatus() != 0; ++k) AudioProcessor::processBlock();
    }
    EXPECT_GE(counted, 10);
    EXPECT_GT(codec->written, 0);
}

TEST(ChainFade, SwitchingTheEqualiserOnDoesNotClick)
{
    makeSystemTree();
    Node* gateFolder = fxtest::scratchFolder("gate");
    Node* eqFolder = fxtest::scratchFolder("eq");
    // As the application builds them: the gate (off) listens to the dry input, the equaliser is off.
    new NoiseGate(gateFolder, 3, 3, AudioProcessor::getInput()[0], false);
    new Equalizer(eqFolder);
    fxtest::setNode(eqFolder, "eq_nbands\\level", "6");
    ManualCodec* codec = startEngine();

    std::vector<float> out;
    long n = 0;
    auto frame = [&] {
        for (int i = 0; i < FRAME_SAMPLES; ++i, ++n) {
            float x = float(0.5 * std::sin(2 * dsptest::kPi * 1000.0 * double(n) / 48000.0));
            codec->in[0][i] = codec->in[1][i] = x;
        }
        AudioProcessor::processBlock();
        out.insert(out.end(), codec->out[0], codec->out[0] + FRAME_SAMPLES);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    };
    // The gate's gain settles at 1 once compile passes have run (a loaded machine may hold the compile
    // thread up for a while) and any fade they asked for is over.
    const uint32_t passes = AudioProcessor::getCompilePasses();
    auto settled = [&] {
        return AudioProcessor::getCompilePasses() >= passes + 3 && AudioProcessor::getCompilerStatus() == 0;
    };
    for (int k = 0; k < 30000 && !settled(); ++k) frame();
    for (int k = 0; k < 300; ++k) frame();
    const std::size_t before = out.size();
    fxtest::setNode(eqFolder, "on_off", "\"ON\"");
    ASSERT_NE(AudioProcessor::getCompilerStatus(), 0) << "the switch starts a fade";
    for (int k = 0; k < 5000 && AudioProcessor::getCompilerStatus() != 0; ++k) frame();
    ASSERT_EQ(AudioProcessor::getCompilerStatus(), 0);
    for (int k = 0; k < 300; ++k) frame();

    // Level doubled (+6 dB) after the fade. The fade gain changes once per frame, so at a frame
    // boundary a sample may step by the sine's own step plus the gain step times the level; the
    // largest gain step of the fade is its last, from 0.9 to 1.0. Switching without the fade would
    // step by up to half the level.
    const double level = 1.0;
    const double sineStep = 2 * dsptest::kPi * 1000.0 / 48000.0 * level;
    const double lastFadeStep = 1.0 - 0.9;
    EXPECT_NEAR(fxtest::peak(out, out.size() - 4800), level, 0.02);
    EXPECT_NEAR(fxtest::peak(std::vector<float>(out.begin(), out.begin() + long(before)), 2400), 0.5, 0.01);
    EXPECT_LT(fxtest::maxStep(out, 4800), (sineStep + lastFadeStep * level) * 1.02);
}

} // namespace
