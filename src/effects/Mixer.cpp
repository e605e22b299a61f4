#include "effects/Mixer.h"

#include "porting/Log.h"

#include <cstring>

namespace {
constexpr const char* kTag = "Mixer";
} // namespace

Mixer::Mixer(Node* parent, float (*aux)[FRAME_SAMPLES])
    : AudioBlock("Mixer", parent, &Mixer::exec, BLOCK_APPEND), aux(aux)
{
    if (!aux) LOG_E(kTag, "Error, aux_path not provided\n");
}

void Mixer::setMixerValue(float g0, float g1, float g2, float g3, float g4, float g5, float g6, float g7)
{
    const float values[8] = {g0, g1, g2, g3, g4, g5, g6, g7};
    for (int i = 0; i < 8; ++i) gains.set(g[i], values[i]);
    gains.publish();
}

bool Mixer::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<Mixer*>(block);
    self->gains.read();
    self->gains.advance(FRAME_SAMPLES);
    Ramp g[8];
    for (int i = 0; i < 8; ++i) g[i] = self->gains[self->g[i]];
    float* outL = self->scratch[0];
    float* outR = self->scratch[1];
    const float* L = frame[0];
    const float* R = frame[1];
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        outL[i] = g[0].at(i) * L[i] + g[3].at(i) * R[i];
        outR[i] = g[2].at(i) * L[i] + g[1].at(i) * R[i];
    }
    if (self->aux) {
        const float* aL = self->aux[0];
        const float* aR = self->aux[1];
        for (int i = 0; i < FRAME_SAMPLES; ++i) {
            outL[i] += g[4].at(i) * aL[i] + g[7].at(i) * aR[i];
            outR[i] += g[6].at(i) * aL[i] + g[5].at(i) * aR[i];
        }
    }
    std::memcpy(frame[0], outL, sizeof self->scratch[0]);
    std::memcpy(frame[1], outR, sizeof self->scratch[1]);
    return false;
}
