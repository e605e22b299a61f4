#include "effects/BandEqN.h"

#include "params/NodeFloat.h"
#include "params/NodeItem.h"

#include <cmath>
#include <cstdio>

namespace {
// Key and label texts of a band live as long as its node.
constexpr std::size_t kTextSize = 16;
} // namespace

BandEqN::BandEqN(Node* parent, std::vector<float> frequencies, std::vector<float> qFactors, bool stereo)
    : AudioBlock("BandEqN", parent, &BandEqN::exec, BLOCK_UNREGISTERED), frequencies(std::move(frequencies)),
      qFactors(std::move(qFactors)), stereo(stereo)
{
    folder = new NodeItem(parent, "eq_nbands", "Equalizer", "eq_nbands", ItemType::MODULE);
    bandCount = int(this->frequencies.size());
    sectionCount = stereo ? 2 * bandCount : bandCount;
    sections = std::make_unique<GlidingBiquad[]>(std::size_t(sectionCount));
    for (int i = 0; i < bandCount; ++i) {
        auto key = std::make_unique<char[]>(kTextSize);
        auto label = std::make_unique<char[]>(kTextSize);
        std::snprintf(key.get(), kTextSize, "band_%d", i);
        const float hz = this->frequencies[std::size_t(i)];
        // A label that does not fit is cut.
        if (hz < 1000.0f) std::snprintf(label.get(), kTextSize, "%d", int(hz));
        else std::snprintf(label.get(), kTextSize, "%.2fk", double(hz) * 0.001);
        bands.push_back(fx::makeFloat(folder, {key.get(), label.get(), -12, 12, 0, "dB"}));
        keys.push_back(std::move(key));
        labels.push_back(std::move(label));
    }
    level = fx::makeFloat(folder, {"level", "Level", -12, 12, 0, "dB"});
}

float BandEqN::getQFactor(int band) const
{
    if (band >= 0 && qFactors.size() == frequencies.size() && std::size_t(band) < qFactors.size())
        return qFactors[std::size_t(band)];
    return kDefaultQ;
}

bool BandEqN::compile()
{
    params.fixed().on = external.get();
    // The level glides in exec: riding on a section's coefficients it would step every pass.
    params.set(levelGain, std::exp(float(double(level->getValue()) * 0.05) * 2.3025851f));
    params.publish();
    for (int i = 0; i < bandCount; ++i) {
        const float hz = frequencies[std::size_t(i)], q = getQFactor(i), dB = bands[std::size_t(i)]->getValue();
        auto design = [&](QuadBiquad& section) { section.set_peaking(hz, q, dB, 1.0f); };
        sections[std::size_t(i)].set(design);
        if (stereo) sections[std::size_t(bandCount + i)].set(design);
    }
    return false;
}

bool BandEqN::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<BandEqN*>(block);
    if (!self->params.read().on) return false;
    // The bounds in locals: the sections' stores would have them read again for every band.
    GlidingBiquad* sections = self->sections.get();
    const int bands = self->bandCount, all = self->stereo ? self->sectionCount : bands;
    for (int i = 0; i < bands; ++i) sections[i].exec(frame[0], frame[0], FRAME_SAMPLES);
    for (int i = bands; i < all; ++i) sections[i].exec(frame[1], frame[1], FRAME_SAMPLES);
    self->params.advance(FRAME_SAMPLES);
    const Ramp& level = self->params[self->levelGain];
    fx::forChannels(frame, self->stereo ? 2 : 1, [&](float* x, int) {
        for (int i = 0; i < FRAME_SAMPLES; ++i) x[i] *= level.at(i);
    });
    return false;
}

void BandEqN::resetState()
{
    for (int i = 0; i < sectionCount; ++i) sections[std::size_t(i)].reset();
}
