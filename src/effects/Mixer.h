#pragma once
#include "audio/AudioBlock.h"
#include "dsp/ParamSet.h"

#include <array>

// The last block of the chain: mixes the processed stereo frame with an auxiliary stereo frame (the
// application gives it the chain's dry input) into the two outputs through a 2 x 4 matrix of linear
// gains. It has no nodes: the application sets the gains from its own output nodes on every compile
// pass (setMixerValue, compile thread); exec runs on the audio thread, reads the auxiliary frame
// there and glides to new gains. The fade gain is not applied here: the engine fades the frame as it
// reaches the mixer (the application makes it the fade point), so the auxiliary frame is not faded.
class Mixer : public AudioBlock {
public:
    // aux: two rows of 16 samples, read every frame, owned by the caller; null mixes in silence.
    Mixer(Node* parent, float (*aux)[FRAME_SAMPLES]);

    bool compile() override { return false; }
    static bool exec(AudioBlock* block, AudioFrame frame);

    // g0 main L -> out L, g1 main R -> out R, g2 main L -> out R, g3 main R -> out L,
    // g4 aux L -> out L, g5 aux R -> out R, g6 aux L -> out R, g7 aux R -> out L.
    void setMixerValue(float g0, float g1, float g2, float g3, float g4, float g5, float g6, float g7);

private:
    const float (*aux)[FRAME_SAMPLES];
    alignas(16) float scratch[FRAME_CHANNELS][FRAME_SAMPLES] = {};
    // The eight gains change together (a level and a routing), so they are handed over as one set.
    // They come from knobs and presets: they glide, a step every compile pass would be heard.
    ParamSet<> gains;
    // Straight through until the first set: main L to out L, main R to out R.
    const std::array<ParamSet<>::Param, 8> g =
        gains.add(GlideKind::Level, std::array{1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f});
};
