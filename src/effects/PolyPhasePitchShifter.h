#pragma once
#include <cstdint>

// Delay-line pitch shifter: the input is written into a ring and read back by several taps that
// move through it at the pitch ratio; each tap is faded in and out with a sin^2 window of its
// distance behind the write position, so its jump from one end of the ring to the other falls
// where its weight is zero. A plain processing class on one channel at 48 kHz: setSemitonesUp on a
// control thread, exec on the audio thread; no allocation after construction.
class PolyPhasePitchShifter {
public:
    static constexpr unsigned kMaxSize = 16384;
    static constexpr unsigned kMaxPhases = 16;

    // size: ring length in samples (2..16384); phases: read taps (1..16). Values outside are held
    // at the nearest limit: a larger ring would write past the buffer, and none would divide by 0.
    PolyPhasePitchShifter(unsigned int size, unsigned int phases);

    // Pitch change in semitones, limited to -36..36.
    void setSemitonesUp(float semitones);
    unsigned int getBufferSize() const { return size; }
    // sin^2(pi x): a tap's weight at x = distance / size.
    static float getFadeFunction(float x);

    // One output sample per input sample; in and out may be the same array.
    void exec(const float* in, float* out, int count);

private:
    struct Tap {
        float position; // offset of the tap from the read phase, samples
        float negative; // its negative, kept for the distance sum
    };

    float buffer[kMaxSize];
    unsigned int size;
    unsigned int phases;
    Tap taps[kMaxPhases];
    unsigned int writeIndex = 0;
    float readPhase = 0.0f;
    float ratio;
    // The sin^2 windows of evenly spread taps sum to phases / 2; this brings the sum back to one.
    float norm;
};
