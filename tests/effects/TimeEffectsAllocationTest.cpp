// The modulation, delay, cabinet and reverb blocks on the audio thread allocate nothing, in their
// busiest settings. Uses the binary's allocation counter (AllocationCounter.cpp).
#include "AllocationCounter.h"
#include "BlockTestUtil.h"
#include "effects/DelayEngine.h"
#include "effects/IrLoader.h"
#include "effects/ModulationsEngine.h"
#include "effects/PolyPhasePitchShifter.h"
#include "effects/ReverbFDN.h"
#include "effects/ReverbFDN8.h"
#include "effects/SpringVerb.h"
#include "effects/Tempo.h"
#include "params/NodeList.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using fxtest::setNode;

struct Built {
    AudioBlock* block;
    BlockExec exec;
};

struct Case {
    const char* name;
    std::function<Built(Node* folder)> build;
};

Built modulation(Node* f, bool post, const char* mode) {
    auto* tempo = new Tempo(f->getParent(), nullptr);
    auto* m = new ModulationsEngine(f, tempo, post);
    setNode(f, "on_off", "\"ON\"");
    setNode(f, "mode", mode);
    setNode(f, "rate\\lock", "\"Global\"");
    setNode(f, "trfolder\\on_off", "\"ON\"");
    return {m, &ModulationsEngine::exec};
}

const Case kCases[] = {
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

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class TimeEffectsAllocation : public ::testing::TestWithParam<Case> {};

TEST_P(TimeEffectsAllocation, ExecAllocatesNothing) {
    Node* f = fxtest::scratchFolder();
    Built b = GetParam().build(f);
    fxtest::keep(b.block);
    auto noise = dsptest::noise(16, 7, 0.5f);
    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    long counted = 0;
    for (int pass = 0; pass < 3; ++pass) {
        b.block->compile();
        for (int k = 0; k < 64; ++k) {
            for (int i = 0; i < FRAME_SAMPLES; ++i)
                frame[0][i] = frame[1][i] = noise[std::size_t(i)];
            alloccount::open();
            b.exec(b.block, frame);
            counted += alloccount::close();
        }
    }
    EXPECT_EQ(counted, 0) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Effects, TimeEffectsAllocation, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(TimeEffectsAllocation, PitchShifterExecAllocatesNothing) {
    auto p = std::make_unique<PolyPhasePitchShifter>(4096, 4);
    auto x = dsptest::noise(1024, 1);
    std::vector<float> y(x.size());
    alloccount::open();
    p->exec(x.data(), y.data(), int(x.size()));
    EXPECT_EQ(alloccount::close(), 0);
}

} // namespace
