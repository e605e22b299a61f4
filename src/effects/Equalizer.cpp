#include "effects/Equalizer.h"

#include "effects/BandEqN.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeOnOff.h"

namespace {
const std::vector<const char*> kSlopes{"OFF", "6dB/oct", "12dB/oct", "24dB/oct"};
enum Slope { kSlopeOff, kSlope6, kSlope12, kSlope24 };
// The two section Q factors of a fourth-order Butterworth filter, and the one of a second-order.
constexpr float kButterworth4Q1 = 0.54f;
constexpr float kButterworth4Q2 = 1.31f;
constexpr float kButterworth2Q = 0.71f;
} // namespace

Equalizer::Equalizer(Node* parent) : AudioBlock("Equalizer", parent, &Equalizer::exec, BLOCK_APPEND)
{
    onOff = fx::makeEnable(parent);
    loCut = fx::makeFrequency(parent, "lo_cut", "Lo Cut", 20, 1000, 20, 0.2f, false, true);
    loSlope = new NodeEnum(parent, "lo_slope", "Lo Slope", kSlopes, "OFF");
    hiCut = fx::makeFrequency(parent, "hi_cut", "Hi Cut", 2000, 20000, 20000, 0.5f, true, true);
    hiSlope = new NodeEnum(parent, "hi_slope", "Hi Slope", kSlopes, "OFF");
    bands = new BandEqN(parent, {100, 200, 400, 800, 1600, 3200, 6400, 12800},
                        {1.41f, 1.41f, 1.41f, 1.41f, 1.41f, 1.41f, 1.41f, 1.41f}, true);
}

void Equalizer::setCut(CutPair& pair, bool high, float hz, int slope)
{
    if (slope == kSlope6) {
        if (high) pair.a.set([&](QuadBiquad& q) { q.set_hi_cut_1_order(hz); });
        else pair.a.set([&](QuadBiquad& q) { q.set_lo_cut_1_order(hz); });
        pair.b.set([&](QuadBiquad& q) { q.set_coeffs(1, 0, 0, 0, 0); });
    } else if (slope == kSlope12) {
        if (high) pair.a.set([&](QuadBiquad& q) { q.set_lpf_2_order(hz, kButterworth2Q); });
        else pair.a.set([&](QuadBiquad& q) { q.set_hpf_2_order(hz, kButterworth2Q); });
        pair.b.set([&](QuadBiquad& q) { q.set_coeffs(1, 0, 0, 0, 0); });
    } else if (slope == kSlope24) {
        if (high) {
            pair.a.set([&](QuadBiquad& q) { q.set_lpf_2_order(hz, kButterworth4Q1); });
            pair.b.set([&](QuadBiquad& q) { q.set_lpf_2_order(hz, kButterworth4Q2); });
        } else {
            pair.a.set([&](QuadBiquad& q) { q.set_hpf_2_order(hz, kButterworth4Q1); });
            pair.b.set([&](QuadBiquad& q) { q.set_hpf_2_order(hz, kButterworth4Q2); });
        }
    } else {
        pair.a.set([&](QuadBiquad& q) { q.set_coeffs(1, 0, 0, 0, 0); });
        pair.b.set([&](QuadBiquad& q) { q.set_coeffs(1, 0, 0, 0, 0); });
    }
}

bool Equalizer::compile()
{
    // A slope changes the order of the filter: like the switch, it waits for the quiet point.
    fx::takeStructure(structure, Structure{fx::isOn(onOff, external.get()), loSlope->getIndex(), hiSlope->getIndex()});
    enabled.store(structure.on ? 1 : 0, std::memory_order_relaxed);
    bands->setExtOnOff(structure.on);
    bands->compile();
    for (CutPair* pair : {&lowLeft, &lowRight}) setCut(*pair, false, loCut->getValue(), structure.loSlope);
    for (CutPair* pair : {&highLeft, &highRight}) setCut(*pair, true, hiCut->getValue(), structure.hiSlope);
    return false;
}

bool Equalizer::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<Equalizer*>(block);
    if (!self->enabled.load(std::memory_order_relaxed)) return false;
    fx::forChannels(frame, 2, [self](float* x, int channel) {
        CutPair& low = channel == 0 ? self->lowLeft : self->lowRight;
        CutPair& high = channel == 0 ? self->highLeft : self->highRight;
        low.a.exec(x, x, FRAME_SAMPLES);
        low.b.exec(x, x, FRAME_SAMPLES);
        high.a.exec(x, x, FRAME_SAMPLES);
        high.b.exec(x, x, FRAME_SAMPLES);
    });
    BandEqN::exec(self->bands, frame);
    return false;
}

void Equalizer::resetState()
{
    for (CutPair* pair : {&lowLeft, &lowRight, &highLeft, &highRight}) {
        pair->a.reset();
        pair->b.reset();
    }
    bands->resetState();
}
