// Blocks in a running engine: switching a block on is hidden behind the fade, so the output never
// jumps although the block changes the level at once.
#include "BlockTestUtil.h"
#include "audio/EngineSupport.h"
#include "effects/Equalizer.h"
#include "effects/NoiseGate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace {

TEST(ChainFade, SwitchingTheEqualiserOnDoesNotClick)
{
    makeSystemTree();
    Node* gateFolder = fxtest::scratchFolder("gate");
    Node* eqFolder = fxtest::scratchFolder("eq");
    // As the application builds them: the gate (off) listens to the dry input, the equaliser is off.
    new NoiseGate(gateFolder, 3, 3, AudioProcessor::getInput()[0], false);
    new Equalizer(eqFolder);
    fxtest::setNode(eqFolder, "eq_nbands\\level", "6");
    auto* codec = new ManualCodec;
    Codec::search();
    AudioProcessor::audioInitialize(true);
    for (int i = 0; i < 5000 && !codec->started; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(codec->started);

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
    for (int k = 0; k < 300; ++k) frame(); // the gate's gain settles at 1
    const std::size_t before = out.size();
    fxtest::setNode(eqFolder, "on_off", "\"ON\"");
    ASSERT_NE(AudioProcessor::getCompilerStatus(), 0) << "the switch starts a fade";
    for (int k = 0; k < 5000 && AudioProcessor::getCompilerStatus() != 0; ++k) frame();
    ASSERT_EQ(AudioProcessor::getCompilerStatus(), 0);
    for (int k = 0; k < 300; ++k) frame();

    // Level doubled (+6 dB) after the fade, and no step bigger than the loud sine's own.
    const double naturalStep = 2 * dsptest::kPi * 1000.0 / 48000.0 * 0.5;
    EXPECT_NEAR(fxtest::peak(out, out.size() - 4800), 1.0, 0.02);
    EXPECT_NEAR(fxtest::peak(std::vector<float>(out.begin(), out.begin() + long(before)), 2400), 0.5, 0.01);
    EXPECT_LT(fxtest::maxStep(out, 4800), 2 * naturalStep * 1.2);
}

} // namespace
