// Every effect block's exec runs on the audio thread, which must never allocate (nor the amp-model
// players' workers). This program counts allocations on every thread (support/AllocationCounter.h),
// builds each block of the table, compiles it and runs frames of noise through exec with the counter
// armed, each frame until the players' workers have finished it. The same table checks the blocks'
// resetState, which the engine's output guard calls on the audio thread after a fault.
//
// To add a block: one row in kBlocks (a name and a function that builds the block under the given
// folder, sets nodes so that exec takes its busiest path, and returns the block with its exec).
#include "BlockTestUtil.h"
#include "effects/DelayEngine.h"
#include "effects/DynaComp.h"
#include "effects/Equalizer.h"
#include "effects/Expr.h"
#include "effects/IrLoader.h"
#include "effects/Mixer.h"
#include "effects/ModulationsEngine.h"
#include "effects/NamPlayer.h"
#include "effects/NoiseGate.h"
#include "effects/Pickup.h"
#include "effects/PolyPhasePitchShifter.h"
#include "effects/ReverbFDN.h"
#include "effects/ReverbFDN8.h"
#include "effects/SpringVerb.h"
#include "effects/Tempo.h"
#include "effects/Tuner.h"
#include "params/NodeList.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

namespace {

using fxtest::setNode;

struct Built {
    AudioBlock* block;
    BlockExec exec;
};

struct AllocCase {
    const char* name;
    std::function<Built(Node* folder)> build;
};

Built modulation(Node* f, bool post, const char* mode)
{
    auto* m = new ModulationsEngine(f, new Tempo(f->getParent(), nullptr), post);
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mode", mode);
    setNode(f, "rate\\lock", "\"Global\"");
    setNode(f, "trfolder\\on_off", "\"ON\"");
    return {m, &ModulationsEngine::exec};
}

// A player with a model selected and both lists' worth of settings away from their defaults.
Built player(Node* f, bool monoBypass, const char* model)
{
    auto* p = new NamPlayer(f, f->getParent(), nullptr, monoBypass ? "nam_amp" : "nam_drive", "Nam", monoBypass);
    std::ifstream file(std::string(KESTRUN_NAM_VECTORS_DIR) + "/" + model + ".nam");
    std::vector<char> element(NamPlayer::kElementSize, 0);
    std::copy(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(), element.begin());
    p->getModelList()->setElementAt(0, "m", element.data());
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "model", "\"m\"");
    setNode(f, "treble", "6");
    // The worker thread starts (and the thread layer notes it) before the counting begins.
    float frame[FRAME_CHANNELS][FRAME_SAMPLES] = {};
    NamPlayer::exec(p, frame);
    while (p->isBusy()) std::this_thread::yield();
    return {p, &NamPlayer::exec};
}

const AllocCase kBlocks[] = {
    {"Tempo",
     [](Node* f) {
         return Built{new Tempo(f, nullptr), &Tempo::exec};
     }},
    {"Tuner",
     [](Node* f) {
         auto* t = new Tuner(f, false);
         setNode(f, "on_off", "\"ON\"");
         return Built{t, &Tuner::exec};
     }},
    {"NoiseGate",
     [](Node* f) {
         static float ext[FRAME_SAMPLES] = {0.1f};
         auto* b = new NoiseGate(f, 3, 3, ext, false);
         setNode(f, "on_off", "\"ON\"");
         return Built{b, &NoiseGate::exec};
     }},
    {"DynaCompDyn",
     [](Node* f) {
         auto* b = new DynaComp(f, nullptr);
         setNode(f, "on_off", "\"ON\"");
         return Built{b, &DynaComp::exec};
     }},
    {"DynaCompStudio",
     [](Node* f) {
         auto* b = new DynaComp(f, nullptr);
         setNode(f, "on_off", "\"ON\"");
         setNode(f, "md", "\"Studio\"");
         return Built{b, &DynaComp::exec};
     }},
    {"Expr",
     [](Node* f) {
         auto* b = new Expr(f);
         setNode(f, "on_off", "\"ON\"");
         setNode(f, "wfolder\\on_off", "\"ON\"");
         setNode(f, "vfold\\on_off", "\"ON\"");
         return Built{b, &Expr::exec};
     }},
    {"Pickup",
     [](Node* f) {
         auto* b = new Pickup(f, false);
         setNode(f, "on_off", "\"ON\"");
         return Built{b, &Pickup::exec};
     }},
    {"NamPlayerAmpLstm", [](Node* f) { return player(f, true, "d_lstm_2x8"); }},
    {"NamPlayerDriveWaveNet", [](Node* f) { return player(f, false, "a_wavenet_small"); }},
    {"Equalizer",
     [](Node* f) {
         auto* b = new Equalizer(f);
         setNode(f, "on_off", "\"ON\"");
         setNode(f, "lo_slope", "\"24dB/oct\"");
         setNode(f, "hi_slope", "\"24dB/oct\"");
         return Built{b, &Equalizer::exec};
     }},
    {"Mixer",
     [](Node* f) {
         static float aux[FRAME_CHANNELS][FRAME_SAMPLES];
         auto* b = new Mixer(f, aux);
         b->setMixerValue(1, 1, 0, 0, 0, 0.5f, 0, 0.5f);
         return Built{b, &Mixer::exec};
     }},
    {"ModulationChorusPost", [](Node* f) { return modulation(f, true, "\"Chorus\""); }},
    {"ModulationFlangerPre", [](Node* f) { return modulation(f, false, "\"Flanger\""); }},
    {"ModulationPhaserPost", [](Node* f) { return modulation(f, true, "\"Phaser\""); }},
    {"DelayEngine",
     [](Node* f) {
         auto* d = new DelayEngine(f, new Tempo(f->getParent(), nullptr));
         setNode(f, "on_off", "\"ON\"");
         setNode(f, "modfolder\\on_off", "\"ON\"");
         setNode(f, "ddfolder\\on_off", "\"ON\"");
         setNode(f, "tcfolder\\tape", "100");
         setNode(f, "dlytime\\lock", "\"Global\"");
         return Built{d, &DelayEngine::exec};
     }},
    {"IrLoaderStereo",
     [](Node* f) {
         auto* cab = new IrLoader(f, f->getParent(), "ir_list");
         std::vector<float> ir(IrLoader::kTaps, 0.01f);
         cab->getList()->setElementAt(0, "a", ir.data());
         cab->getList()->setElementAt(1, "b", ir.data());
         setNode(f, "on_off", "\"ON\"");
         setNode(f, "ir", "\"a\"");
         setNode(f, "ir2\\on_off", "\"ON\"");
         setNode(f, "ir2\\ir", "\"b\"");
         return Built{cab, &IrLoader::exec};
     }},
    {"ReverbFDN8Hall",
     [](Node* f) {
         auto* r = new ReverbFDN8(f);
         setNode(f, "on_off", "\"ON\"");
         setNode(f, "mode", "\"HALL\"");
         return Built{r, &ReverbFDN8::exec};
     }},
    {"ReverbFDN8Spring",
     [](Node* f) {
         auto* r = new ReverbFDN8(f);
         setNode(f, "on_off", "\"ON\"");
         setNode(f, "mode", "\"SPRING\"");
         return Built{r, &ReverbFDN8::exec};
     }},
    {"ReverbFDN",
     [](Node* f) {
         auto* r = new ReverbFDN(f);
         setNode(f, "on_off", "\"ON\"");
         return Built{r, &ReverbFDN::exec};
     }},
    {"SpringVerb",
     [](Node* f) {
         auto* r = new SpringVerb(f);
         setNode(f, "on_off", "\"ON\"");
         return Built{r, &SpringVerb::exec};
     }},
};

void PrintTo(const AllocCase& c, std::ostream* os)
{
    *os << c.name;
}

class BlockAllocation : public ::testing::TestWithParam<AllocCase> {};

TEST_P(BlockAllocation, ExecAllocatesNothing)
{
    Node* folder = fxtest::scratchFolder();
    Built b = GetParam().build(folder);
    ASSERT_NE(b.block, nullptr);
    fxtest::keep(b.block);
    auto noise = dsptest::noise(16, 7, 0.5f);
    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    long counted = 0;
    for (int pass = 0; pass < 3; ++pass) {
        b.block->compile(); // compile may allocate: it runs on the compile thread
        for (int k = 0; k < 64; ++k) {
            for (int i = 0; i < FRAME_SAMPLES; ++i) frame[0][i] = frame[1][i] = noise[std::size_t(i)];
            alloccount::open();
            b.exec(b.block, frame);
            for (NamPlayer* p : NamPlayer::instances)
                while (p->isBusy()) std::this_thread::yield();
            counted += alloccount::close();
        }
    }
    EXPECT_EQ(counted, 0) << GetParam().name;
    for (NamPlayer* p : NamPlayer::instances) EXPECT_NE(p->playingModel(), nullptr) << "the worker ran the model";
}

// Both channels of `left`/`right` through exec frame by frame, each frame until the players' workers
// have finished it; the output appended to `out`.
void play(const Built& b, const std::vector<float>& left, const std::vector<float>& right, fxtest::Stereo& out)
{
    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    for (std::size_t at = 0; at + FRAME_SAMPLES <= left.size(); at += FRAME_SAMPLES) {
        std::copy_n(&left[at], FRAME_SAMPLES, frame[0]);
        std::copy_n(&right[at], FRAME_SAMPLES, frame[1]);
        b.exec(b.block, frame); // the tuner stops the chain: its answer is not looked at here
        for (NamPlayer* p : NamPlayer::instances)
            while (p->isBusy()) std::this_thread::yield();
        out.l.insert(out.l.end(), frame[0], frame[0] + FRAME_SAMPLES);
        out.r.insert(out.r.end(), frame[1], frame[1] + FRAME_SAMPLES);
    }
}

// A fault fills a block's state (filter memories, lines, a model's cells) with NaN, infinity or a
// huge value, which it would play for good. After resetState (which allocates nothing) a sine comes
// out finite and within 3 dB of a block that never met the fault, from its third frame on.
TEST_P(BlockAllocation, SineComesBackCleanAfterAFaultAndAReset)
{
    const std::vector<float> silence(30 * FRAME_SAMPLES, 0.0f), quiet(FRAME_SAMPLES, 0.0f);
    const std::vector<float> sine = dsptest::sine(4800, 440.0, 0.25);
    for (float fault : {std::nanf(""), INFINITY, -INFINITY, 1e30f}) {
        SCOPED_TRACE(fault);
        Built fresh = GetParam().build(fxtest::scratchFolder());
        Built hit = GetParam().build(fxtest::scratchFolder());
        fxtest::keep(fresh.block);
        fxtest::keep(hit.block);
        std::vector<float> faulty(FRAME_SAMPLES, 0.0f);
        faulty[5] = fault;
        fxtest::Stereo before, heard, expected;
        for (Built* b : {&fresh, &hit}) {
            b->block->compile();
            play(*b, silence, silence, before);
        }
        play(fresh, quiet, quiet, before);
        play(hit, faulty, faulty, before);
        alloccount::open();
        hit.block->resetState();
        EXPECT_EQ(alloccount::close(), 0);
        play(hit, sine, sine, heard);
        play(fresh, sine, sine, expected);
        ASSERT_TRUE(fxtest::allFinite(heard.l) && fxtest::allFinite(heard.r));
        const std::size_t from = 3 * FRAME_SAMPLES;
        EXPECT_NEAR(dsptest::db(fxtest::rms(heard.l, from) + 1e-9), dsptest::db(fxtest::rms(expected.l, from) + 1e-9),
                    3.0);
        EXPECT_NEAR(dsptest::db(fxtest::rms(heard.r, from) + 1e-9), dsptest::db(fxtest::rms(expected.r, from) + 1e-9),
                    3.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Effects, BlockAllocation, ::testing::ValuesIn(kBlocks),
                         [](const ::testing::TestParamInfo<AllocCase>& info) { return std::string(info.param.name); });

TEST(BlockAllocation, PitchShifterExecAllocatesNothing)
{
    auto p = std::make_unique<PolyPhasePitchShifter>(4096, 4);
    auto x = dsptest::noise(1024, 1);
    std::vector<float> y(x.size());
    alloccount::open();
    p->exec(x.data(), y.data(), int(x.size()));
    EXPECT_EQ(alloccount::close(), 0);
}

// The counter itself counts, on any thread and through the C allocator too (outside the sanitizer
// builds, whose allocator it leaves alone), or the tests above would prove nothing.
TEST(BlockAllocation, CounterSeesAllocations)
{
    alloccount::open();
    auto* p = new std::vector<float>(16);
    std::thread([] { delete new int(1); }).join();
    void* m = std::malloc(64);
    const long seen = alloccount::close();
    delete p;
    std::free(m);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    EXPECT_GE(seen, 2);
#else
    EXPECT_GE(seen, 3);
#endif
}

} // namespace
