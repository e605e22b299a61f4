// Every effect block's exec runs on the audio thread, which must never allocate. This binary counts
// allocations (AllocationCounter.cpp), builds each block of the table,
// compiles it and runs frames of noise through exec with the counter armed.
//
// To add a block: one row in kBlocks (a name and a function that builds the block under the given
// folder, sets nodes so that exec takes its busiest path, and returns the block with its exec).
#include "AllocationCounter.h"
#include "BlockTestUtil.h"
#include "effects/DynaComp.h"
#include "effects/Equalizer.h"
#include "effects/Expr.h"
#include "effects/Mixer.h"
#include "effects/NoiseGate.h"
#include "effects/Pickup.h"
#include "effects/Tempo.h"

#include <gtest/gtest.h>

#include <functional>
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

const AllocCase kBlocks[] = {
    {"Tempo", [](Node* f) { return Built{new Tempo(f, nullptr), &Tempo::exec}; }},
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
};

void PrintTo(const AllocCase& c, std::ostream* os) { *os << c.name; }

class BlockAllocation : public ::testing::TestWithParam<AllocCase> {};

TEST_P(BlockAllocation, ExecAllocatesNothing)
{
    Node* folder = fxtest::scratchFolder();
    Built b = GetParam().build(folder);
    ASSERT_NE(b.block, nullptr);
    auto noise = dsptest::noise(16, 7, 0.5f);
    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    long counted = 0;
    for (int pass = 0; pass < 3; ++pass) {
        b.block->compile(); // compile may allocate: it runs on the compile thread
        for (int k = 0; k < 64; ++k) {
            for (int i = 0; i < FRAME_SAMPLES; ++i) frame[0][i] = frame[1][i] = noise[std::size_t(i)];
            alloccount::open();
            b.exec(b.block, frame);
            counted += alloccount::close();
        }
    }
    EXPECT_EQ(counted, 0) << GetParam().name;
}

// The counter itself counts: an armed allocation is seen.
TEST(BlockAllocationCounter, SeesAnAllocation)
{
    alloccount::open();
    auto* p = new std::vector<float>(16);
    long seen = alloccount::close();
    delete p;
    EXPECT_GE(seen, 1);
}

INSTANTIATE_TEST_SUITE_P(Effects, BlockAllocation, ::testing::ValuesIn(kBlocks),
                         [](const ::testing::TestParamInfo<AllocCase>& info) { return std::string(info.param.name); });

} // namespace
