#include "audio/AudioProcessor.h"
#include "EngineSupport.h"
#include "params/NodeFloat.h"
#include "support/ResetHooks.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Starts the engine's threads with a codec that the test moves frame by frame.
ManualCodec* startEngine()
{
    makeSystemTree();
    auto* codec = new ManualCodec;
    Codec::search();
    AudioProcessor::audioInitialize(true);
    auto until = Clock::now() + std::chrono::seconds(5);
    while (!codec->started && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return codec;
}

// Runs frames (each followed by a short pause, as frames come every 1/3 ms) until the fade state
// leaves `state`; returns the gain after each frame.
std::vector<float> framesWhile(int state, int limit)
{
    std::vector<float> gains;
    while (AudioProcessor::getCompilerStatus() == state && int(gains.size()) < limit) {
        AudioProcessor::processBlock();
        gains.push_back(AudioProcessor::getDebounceVolume());
    }
    return gains;
}

// One block that does nothing but count, the engine started and a few frames run.
TraceBlock& engineWithOneBlock()
{
    TraceBlock& block = *new TraceBlock("A", BLOCK_APPEND); // lives as long as the engine's threads
    block.recordOrder = false;
    startEngine();
    for (int i = 0; i < 5; ++i) AudioProcessor::processBlock();
    return block;
}

bool waitFor(const std::function<bool()>& done, int ms, bool runFrames)
{
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > until) return false;
        if (runFrames) AudioProcessor::processBlock();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return true;
}

ResetHook traceReset([] { TraceBlock::trace().clear(); });

} // namespace

TEST(AudioProcessor, ChainIsPrependedInReverseThenAppendedInOrder)
{
    TraceBlock a("A", BLOCK_APPEND), b("B", BLOCK_PREPEND), c("C", BLOCK_APPEND), d("D", BLOCK_PREPEND);
    TraceBlock outside("E", 7);
    ManualCodec codec;
    Codec::search();
    AudioProcessor::processBlock();
    EXPECT_EQ(TraceBlock::trace(), (std::vector<std::string>{"x:D", "x:B", "x:A", "x:C"}));
    EXPECT_FALSE(AudioProcessor::hasBlock(&outside));
    EXPECT_TRUE(AudioProcessor::hasBlock(&b));
    TraceBlock::trace().clear();
    AudioProcessor::compileBlocks();
    EXPECT_EQ(TraceBlock::trace(), (std::vector<std::string>{"c:D", "c:B", "c:A", "c:C"}));

    StdoutCapture out;
    AudioProcessor::displayInfo();
    char expected[256];
    std::snprintf(expected, sizeof expected, "I (AudioProcessor): Chain item 1: D (%p)\n", static_cast<void*>(&d));
    std::string text = out.text();
    EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
    std::snprintf(expected, sizeof expected, "I (AudioProcessor): Chain item 4: C (%p)\n", static_cast<void*>(&c));
    EXPECT_NE(text.find(expected), std::string::npos);
}

TEST(AudioProcessor, RingDropsThe32ndBlockAppendedOrPrepended)
{
    std::vector<std::unique_ptr<TraceBlock>> blocks;
    for (int i = 0; i < 31; ++i)
        blocks.push_back(std::make_unique<TraceBlock>("B", i % 2 ? BLOCK_PREPEND : BLOCK_APPEND));
    TraceBlock late("late", BLOCK_APPEND), early("early", BLOCK_PREPEND);
    EXPECT_FALSE(AudioProcessor::hasBlock(&late));
    EXPECT_FALSE(AudioProcessor::hasBlock(&early));
    for (auto& block : blocks) EXPECT_TRUE(AudioProcessor::hasBlock(block.get()));
    ManualCodec codec;
    Codec::search();
    AudioProcessor::processBlock();
    AudioProcessor::compileBlocks();
    EXPECT_EQ(TraceBlock::trace().size(), 62u);
    EXPECT_EQ(late.processed + early.processed, 0);
    EXPECT_EQ(late.compiles + early.compiles, 0);
}

TEST(AudioProcessor, BlockThatStopsTheChainStillLetsTheFrameOut)
{
    TraceBlock a("A", BLOCK_APPEND, 0.5f), stop("S", BLOCK_APPEND), c("C", BLOCK_APPEND, 0.0f);
    stop.stopChain = true;
    stop.stopCompile = true;
    ManualCodec codec;
    Codec::search();
    codec.fill(0.8f, -0.4f);
    AudioProcessor::processBlock();
    EXPECT_EQ(c.processed, 0);
    EXPECT_EQ(codec.written, 1);
    EXPECT_FLOAT_EQ(codec.out[0][3], 0.4f); // A's halving stays, C's muting never came
    EXPECT_FLOAT_EQ(codec.out[1][15], -0.2f);
    EXPECT_FLOAT_EQ(AudioProcessor::getInput()[0][0], 0.8f); // the dry copy
    AudioProcessor::compileBlocks();
    EXPECT_EQ(a.compiles, 1);
    EXPECT_EQ(stop.compiles, 1);
    EXPECT_EQ(c.compiles, 0);
}

// The output guard: a frame holding a sample that is not finite or beyond the guard's bound goes out
// silent, both channels, and every block of the chain is reset once; up to the bound itself the frame
// passes as it is, however loud.
TEST(AudioProcessor, GuardSilencesAFaultyFrameAndResetsEveryBlock)
{
    TraceBlock a("A", BLOCK_APPEND), b("B", BLOCK_PREPEND);
    a.recordOrder = b.recordOrder = false;
    ManualCodec codec;
    Codec::search();
    const struct {
        float left;
        bool silenced;
    } cases[] = {
        {0.5f, false},
        {1e25f, false},
        {-AudioProcessor::kGuardLimit, false},
        {AudioProcessor::kGuardLimit, false},
        {std::nextafter(AudioProcessor::kGuardLimit, INFINITY), true},
        {std::nanf(""), true},
        {INFINITY, true},
        {-INFINITY, true},
        {1e30f, true},
        {-3e38f, true},
        {0.25f, false},
    };
    int trips = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.left);
        codec.fill(c.left, 0.25f);
        AudioProcessor::processBlock();
        trips += c.silenced;
        EXPECT_EQ(a.resets, trips);
        EXPECT_EQ(b.resets, trips);
        EXPECT_EQ(AudioProcessor::getGuardTrips(), uint32_t(trips));
        for (int k = 0; k < FRAME_SAMPLES; ++k) {
            EXPECT_EQ(codec.out[0][k], c.silenced ? 0.0f : c.left);
            EXPECT_EQ(codec.out[1][k], c.silenced ? 0.0f : 0.25f);
        }
    }
}

TEST(AudioProcessor, MetersHoldClipsFor400FramesAndDecayTo110Db)
{
    TraceBlock doubler("x2", BLOCK_APPEND, 2.0f);
    doubler.recordOrder = false;
    ManualCodec codec;
    Codec::search();

    // Only sample 0 of a channel is looked at.
    codec.fill(0.0f, 0.0f);
    codec.in[0][5] = 1.0f;
    AudioProcessor::processBlock();
    EXPECT_FALSE(AudioProcessor::saturation());

    codec.fill(0.5f, 0.95f); // input channel 1 clips; output channel 0 (doubled to 1.0) clips
    AudioProcessor::processBlock();
    EXPECT_FALSE(AudioProcessor::channelSaturation(0, 1));
    EXPECT_TRUE(AudioProcessor::channelSaturation(1, 1));
    EXPECT_TRUE(AudioProcessor::channelSaturation(0, 0));
    EXPECT_TRUE(AudioProcessor::channelSaturation(1, 0));
    EXPECT_NEAR(AudioProcessor::meter(0, 1), 20.0f * std::log10(0.5f), 0.01f);
    EXPECT_EQ(AudioProcessor::meter(0, 0), 0.0f); // above full scale reads 0 dB

    codec.fill(0.0f, 0.0f);
    for (int frame = 1; frame < 400; ++frame) AudioProcessor::processBlock();
    EXPECT_TRUE(AudioProcessor::channelSaturation(1, 1));
    AudioProcessor::processBlock(); // the 400th frame after the clip
    EXPECT_FALSE(AudioProcessor::saturation());

    EXPECT_GT(AudioProcessor::meter(1, 1), -110.0f);
    for (int frame = 0; frame < 3000; ++frame) AudioProcessor::processBlock();
    for (int channel : {0, 1})
        for (int io : {0, 1}) EXPECT_EQ(AudioProcessor::meter(channel, io), -110.0f);
    // Bad arguments.
    EXPECT_EQ(AudioProcessor::meter(2, 1), 0.0f);
    EXPECT_EQ(AudioProcessor::meter(0, 2), 0.0f);
    EXPECT_FALSE(AudioProcessor::channelSaturation(-1, 0));
    EXPECT_FALSE(AudioProcessor::channelSaturation(0, 3));
}

TEST(AudioProcessor, WithoutBlocksNothingStarts)
{
    makeSystemTree();
    StdoutCapture out;
    AudioProcessor::audioInitialize(true);
    EXPECT_EQ(out.text(), "W (AudioProcessor): No audio block loaded\n");
    EXPECT_FALSE(AudioProcessor::isInitialized());
    EXPECT_EQ(System::systemNode()->childrenCount(), 0);
}

TEST(AudioProcessor, InitializeBuildsMeterNodesAndStartsTheThreads)
{
    TraceBlock& a = *new TraceBlock("A", BLOCK_APPEND); // lives as long as the engine's threads
    a.recordOrder = false;
    StdoutCapture out;
    ManualCodec* codec = startEngine();
    std::string text = out.text();
    Node* meters = System::root->pathToNode("root\\sys\\_meters");
    ASSERT_NE(meters, nullptr);
    EXPECT_STREQ(meters->getDisplayName(), "VU Meters");
    const char* keys[] = {"_in0", "_in1", "_out0", "_out1"};
    const char* labels[] = {"In 1 Peak", "In 2 Peak", "Out 1 Peak", "Out 2 Peak"};
    for (int i = 0; i < 4; ++i) {
        auto* node = dynamic_cast<NodeFloat*>(meters->childrenAt(i));
        ASSERT_NE(node, nullptr);
        EXPECT_STREQ(node->getName(), keys[i]);
        EXPECT_STREQ(node->getDisplayName(), labels[i]);
        EXPECT_EQ(node->getMin(), -110.0f);
        EXPECT_EQ(node->getMax(), 0.0f);
        EXPECT_STREQ(node->getUnit(), "dB");
    }
    size_t audio = text.find("I (Thread): audioLoop create success");
    size_t control = text.find("I (Thread): controlLoop create success");
    size_t compile = text.find("I (Thread): compileLoop create success");
    EXPECT_LT(text.find("Chain item 1: A"), audio);
    EXPECT_LT(audio, control);
    EXPECT_LT(control, compile);
    EXPECT_NE(compile, std::string::npos);

    // The compile thread hands the meters to their nodes.
    codec->fill(0.5f, 0.25f);
    ASSERT_TRUE(waitFor(
        [&] {
            return std::fabs(static_cast<NodeFloat*>(meters->childrenAt(1))->getValue() - 20.0f * std::log10(0.25f)) <
                   0.1f;
        },
        2000, true));
    EXPECT_GT(a.compiles.load(), 0);
}

TEST(AudioProcessor, DisabledMetersGoUnderTheirOwnKey)
{
    makeSystemTree();
    new TraceBlock("A", BLOCK_APPEND); // lives as long as the engine's threads
    new ManualCodec;
    Codec::search();
    AudioProcessor::audioInitialize(false);
    EXPECT_NE(System::root->pathToNode("root\\sys\\_disabled_meters\\_out1"), nullptr);
    EXPECT_EQ(System::root->pathToNode("root\\sys\\_meters"), nullptr);
}

TEST(AudioProcessor, FadeTakes44FramesDownHoldsForACompilePassAnd43Up)
{
    TraceBlock& block = *new TraceBlock("A", BLOCK_APPEND); // lives as long as the engine's threads
    block.recordOrder = false;
    AudioProcessor::debounce(nullptr); // before the engine runs: no fade
    EXPECT_EQ(AudioProcessor::getCompilerStatus(), 0);
    ManualCodec* codec = startEngine();
    codec->fill(1.0f, -1.0f);
    for (int i = 0; i < 5; ++i) AudioProcessor::processBlock();

    AudioProcessor::debounce(nullptr);
    ASSERT_EQ(AudioProcessor::getCompilerStatus(), 1);
    const int compilesBefore = block.compiles.load();
    std::vector<float> down = framesWhile(1, 1000);
    ASSERT_EQ(down.size(), 44u);
    for (size_t i = 1; i < down.size(); ++i) EXPECT_LT(down[i], down[i - 1]);
    EXPECT_NEAR(down.back(), 0.0097f, 0.0001f);
    // The engine fades the frame the chain left, in a straight line from the gain of the frame
    // before to the gain the blocks saw (the step comes after the chain).
    const float from = down[down.size() - 3], to = down[down.size() - 2];
    EXPECT_FLOAT_EQ(codec->out[0][0], from + (to - from) / 16);
    EXPECT_FLOAT_EQ(codec->out[1][7], -(from + (to - from) * 8 / 16));
    EXPECT_FLOAT_EQ(codec->out[0][15], to);

    // Held until the compile thread has run one pass.
    std::vector<float> held;
    ASSERT_TRUE(waitFor(
        [&] {
            held.push_back(AudioProcessor::getDebounceVolume());
            return AudioProcessor::getCompilerStatus() != 2;
        },
        2000, true));
    for (float gain : held) EXPECT_EQ(gain, down.back());
    EXPECT_GT(block.compiles.load(), compilesBefore);
    ASSERT_EQ(AudioProcessor::getCompilerStatus(), 3);

    std::vector<float> up = framesWhile(3, 1000);
    ASSERT_EQ(up.size(), 43u);
    EXPECT_NEAR(up.back(), 0.90f, 0.01f);
    for (size_t i = 1; i < up.size(); ++i) EXPECT_GT(up[i], up[i - 1]);
    for (float gain : up) EXPECT_LE(gain, 1.0f);
    AudioProcessor::processBlock();
    EXPECT_EQ(AudioProcessor::getDebounceVolume(), 1.0f);
    AudioProcessor::processBlock(); // the last step of the line up to 1.0
    EXPECT_LT(codec->out[0][0], 1.0f);
    AudioProcessor::processBlock();
    EXPECT_EQ(codec->out[0][0], 1.0f);
}

TEST(AudioProcessor, ChangeFromInsideACompileOrWithoutFramesStartsNoFade)
{
    static std::atomic<int> calls{0};
    TraceBlock& block = *new TraceBlock("A", BLOCK_APPEND); // lives as long as the engine's threads
    block.recordOrder = false;
    block.onCompile = [] {
        AudioProcessor::debounce(nullptr);
        calls.fetch_add(1);
    };
    startEngine();
    // No frames yet: nothing to fade.
    AudioProcessor::debounce(nullptr);
    EXPECT_EQ(AudioProcessor::getCompilerStatus(), 0);
    ASSERT_TRUE(waitFor([&] { return calls.load() >= 5; }, 2000, true));
    EXPECT_EQ(AudioProcessor::getCompilerStatus(), 0);
}

TEST(AudioProcessor, FadeThatFramesStoppedIsFinishedAndCompilingGoesOn)
{
    engineWithOneBlock();
    AudioProcessor::debounce(nullptr);
    ASSERT_EQ(AudioProcessor::getCompilerStatus(), 1);
    // No more frames: "controlLoop" resumes the compile thread, which makes its pass.
    ASSERT_TRUE(waitFor([] { return AudioProcessor::getCompilerStatus() == 3; }, 2000, false));
    const uint32_t passes = AudioProcessor::getCompilePasses();
    ASSERT_TRUE(waitFor([&] { return AudioProcessor::getCompilePasses() > passes + 2; }, 2000, false));
    // Frames again: the fade comes back up.
    ASSERT_TRUE(waitFor([] { return AudioProcessor::getCompilerStatus() == 0; }, 2000, true));
    AudioProcessor::processBlock();
    EXPECT_EQ(AudioProcessor::getDebounceVolume(), 1.0f);
}

TEST(AudioProcessor, TenThousandConcurrentChangesNeverLeaveTheCompileThreadStopped)
{
    TraceBlock& block = *new TraceBlock("A", BLOCK_APPEND); // lives as long as the engine's threads
    block.recordOrder = false;
    startEngine();
    std::atomic<bool> stop{false};
    std::atomic<float> lowest{1.0f}, highest{0.0f};
    std::thread audio([&] {
        while (!stop.load()) {
            AudioProcessor::processBlock();
            float gain = AudioProcessor::getDebounceVolume();
            if (gain < lowest.load()) lowest.store(gain);
            if (gain > highest.load()) highest.store(gain);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<std::thread> changers;
    for (int t = 0; t < 4; ++t)
        changers.emplace_back([] {
            for (int i = 0; i < 2500; ++i) {
                AudioProcessor::debounce(nullptr);
                if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    for (auto& t : changers) t.join();
    bool settled = waitFor([] { return AudioProcessor::getCompilerStatus() == 0; }, 3000, false);
    const uint32_t passes = AudioProcessor::getCompilePasses();
    bool compiling = waitFor([&] { return AudioProcessor::getCompilePasses() >= passes + 3; }, 3000, false);
    stop = true;
    audio.join();
    EXPECT_TRUE(settled);
    EXPECT_TRUE(compiling);
    EXPECT_GT(lowest.load(), 0.0f);
    EXPECT_LE(highest.load(), 1.0f);
}

namespace {

// A block with a switch, handed over as the effect blocks do it: compile takes a changed switch
// only when the engine allows it, and exec notes every change it hears and the fade gain then.
class SwitchBlock : public AudioBlock {
public:
    SwitchBlock() : AudioBlock("Switch", nullptr, &SwitchBlock::exec, BLOCK_APPEND) {}
    bool compile() override
    {
        const bool live = wanted.load();
        if (live != held && AudioProcessor::mayRestructure()) held = live;
        heard.store(held);
        return false;
    }
    static bool exec(AudioBlock* block, AudioFrame)
    {
        auto* self = static_cast<SwitchBlock*>(block);
        const bool on = self->heard.load();
        const auto now = Clock::now();
        // After frames stopped for longer than the engine's window nothing was heard: a change may
        // then come without a fade. A loaded test machine can hold this thread up that long.
        const bool flowing = now - self->lastFrame < std::chrono::milliseconds(40);
        self->lastFrame = now;
        if (on != self->last) {
            self->last = on;
            self->changes.fetch_add(1);
            if (flowing) self->loudest.store(std::max(self->loudest.load(), AudioProcessor::getDebounceVolume()));
        }
        return false;
    }
    std::atomic<bool> wanted{false}; // the node: any thread
    bool held = false; // compile thread
    std::atomic<bool> heard{false};
    bool last = false; // audio thread
    Clock::time_point lastFrame;
    std::atomic<int> changes{0};
    std::atomic<float> loudest{0.0f};
};

} // namespace

// The switch is stored first and its callback comes after, as nodes do; some switches have no
// callback at all. Either way no change is heard before the fade has reached its floor, whatever
// the compile pass was doing when it came.
TEST(AudioProcessor, StructuralChangesAreHeardOnlyAtTheQuietPoint)
{
    auto& block = *new SwitchBlock; // lives as long as the engine's threads
    startEngine();
    AudioProcessor::setCompilePeriod(1000);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        while (!stop.load()) {
            AudioProcessor::processBlock();
            std::this_thread::sleep_for(std::chrono::microseconds(30));
        }
    });
    for (int i = 0; i < 300; ++i) {
        block.wanted.store(!block.wanted.load());
        if (i % 3 != 2) AudioProcessor::debounce(nullptr);
        std::this_thread::sleep_for(std::chrono::microseconds(i * 7919 % 6000));
    }
    const bool settled =
        waitFor([&] { return AudioProcessor::getCompilerStatus() == 0 && block.heard == block.wanted; }, 3000, false);
    stop = true;
    audio.join();
    EXPECT_TRUE(settled);
    EXPECT_GT(block.changes.load(), 10);
    EXPECT_LT(block.loudest.load(), 0.011f) << "a change was heard above the fade's floor";
}

// A change that comes while the fade comes back up turns it down again from where it is.
TEST(AudioProcessor, ChangeDuringTheFadeInTurnsItDownAgain)
{
    engineWithOneBlock();
    AudioProcessor::debounce(nullptr);
    framesWhile(1, 1000);
    ASSERT_TRUE(waitFor([] { return AudioProcessor::getCompilerStatus() == 3; }, 2000, true));
    for (int i = 0; i < 20; ++i) AudioProcessor::processBlock();
    const float rising = AudioProcessor::getDebounceVolume();
    ASSERT_GT(rising, 0.05f);
    ASSERT_LT(rising, 0.8f);
    AudioProcessor::debounce(nullptr);
    EXPECT_EQ(AudioProcessor::getCompilerStatus(), 1);
    std::vector<float> down = framesWhile(1, 1000);
    ASSERT_FALSE(down.empty());
    EXPECT_FLOAT_EQ(down.front(), rising * 0.9f);
    EXPECT_LT(down.back(), 0.011f);
    ASSERT_TRUE(waitFor([] { return AudioProcessor::getCompilerStatus() == 0; }, 2000, true));
}

// The fade point: what the blocks before it made is faded, what the block there adds is not (the
// output mixer adds the second input, which passes beside the chain).
TEST(AudioProcessor, WhatTheFadePointAddsIsNotFaded)
{
    struct AddBlock : AudioBlock {
        AddBlock() : AudioBlock("Add", nullptr, &AddBlock::exec, BLOCK_APPEND) {}
        bool compile() override { return false; }
        static bool exec(AudioBlock*, AudioFrame frame)
        {
            for (int c = 0; c < FRAME_CHANNELS; ++c)
                for (int k = 0; k < FRAME_SAMPLES; ++k) frame[c][k] += 0.25f;
            return false;
        }
    };
    TraceBlock& block = *new TraceBlock("A", BLOCK_APPEND); // both live as long as the engine's threads
    block.recordOrder = false;
    AudioProcessor::setFadePoint(new AddBlock);
    ManualCodec* codec = startEngine();
    codec->fill(1.0f, -1.0f);
    for (int i = 0; i < 5; ++i) AudioProcessor::processBlock();
    EXPECT_FLOAT_EQ(codec->out[0][15], 1.25f);
    AudioProcessor::debounce(nullptr);
    std::vector<float> down = framesWhile(1, 1000);
    AudioProcessor::processBlock(); // held at the floor
    EXPECT_NEAR(codec->out[0][15], down.back() * 1.0f + 0.25f, 1e-6);
    EXPECT_NEAR(codec->out[1][15], down.back() * -1.0f + 0.25f, 1e-6);
}
