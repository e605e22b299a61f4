#include "effects/PolyPhasePitchShifter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

PolyPhasePitchShifter::PolyPhasePitchShifter(unsigned int size, unsigned int phases)
    : buffer{}, size(std::clamp(size, 2u, kMaxSize)), phases(std::clamp(phases, 1u, kMaxPhases)),
      ratio(std::exp2(2.0f / 12.0f)), norm(this->phases >= 2 ? 2.0f / static_cast<float>(this->phases) : 1.0f)
{
    for (unsigned i = 0; i < kMaxPhases; ++i) {
        float p = i < this->phases
                      ? static_cast<float>(i) * static_cast<float>(this->size) / static_cast<float>(this->phases)
                      : 0.0f;
        taps[i] = {p, -p};
    }
}

void PolyPhasePitchShifter::setSemitonesUp(float semitones)
{
    if (!std::isfinite(semitones)) return;
    ratio = std::exp2(std::clamp(semitones, -36.0f, 36.0f) / 12.0f);
}

float PolyPhasePitchShifter::getFadeFunction(float x)
{
    const float s = std::sin(std::numbers::pi_v<float> * x);
    return s * s;
}

void PolyPhasePitchShifter::exec(const float* in, float* out, int count)
{
    if (count < 1) return;
    const float fSize = static_cast<float>(size);
    const float invSize = 1.0f / fSize;
    for (int k = 0; k < count; ++k) {
        const float x = in[k];
        const float w = static_cast<float>(writeIndex);
        float acc = 0.0f;
        for (unsigned t = 0; t < phases; ++t) {
            float pos = readPhase + taps[t].position;
            if (pos >= fSize) pos -= fSize;
            // Distance behind the write position, kept in 0..size.
            float dist = w - pos;
            if (dist < 0.0f) dist += fSize;
            unsigned i0 = static_cast<unsigned>(pos);
            if (i0 >= size) i0 = size - 1;
            const float f = pos - static_cast<float>(i0);
            const unsigned i1 = i0 + 1 == size ? 0 : i0 + 1;
            const float v = buffer[i0] + f * (buffer[i1] - buffer[i0]);
            acc += v * getFadeFunction(dist * invSize);
        }
        buffer[writeIndex] = x;
        if (++writeIndex == size) writeIndex = 0;
        readPhase += ratio;
        while (readPhase >= fSize) readPhase -= fSize;
        out[k] = acc * norm;
    }
}
