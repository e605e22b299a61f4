#pragma once
#include "audio/AudioBlock.h"
#include "dsp/AlignedArray.h"
#include "dsp/QuadBiquad.h"

#include <atomic>

class Node;
class NodeEnum;
class NodeFloat;
class NodeOnOff;

// Cents from `ref` to `f` (1200/ln 2 times ln(f/ref)), folded into one octave: -600..600.
float getCentsErrorNormalized(float f, float ref);

// The tuner: a block at the front of the chain. While its "Enable" switch is on, its exec mutes the
// frame and stops the chain, after storing the high-passed left channel in a history ring and
// following its peak level; its compile (and so the compile pass) stops the blocks behind it from
// being compiled, and estimates the pitch from the ring by an FFT autocorrelation, then the nearest
// equal-tempered note for the chosen A4 reference ("ref", Hz), its octave and the deviation in cents.
//
// The switch takes effect at the fade's quiet point.
//
// Threads: exec on "audioLoop" writes the ring, its write position and the level follower; compile on
// "compileLoop" reads them while the ring keeps being written (the ring is 512 samples longer than
// the 4096 analysed, so a pass has about 10 ms before its window is overwritten) and writes the
// results, which the tuner screen reads on "systemTasks". Every shared field is atomic.
//
// Nodes under the given parent: "on_off", then the "module" folder "tuner" with "_freq" (Hz, 0 = no
// pitch), "lvl" (input peak, dB) and "ref" (persisted).
class Tuner : public AudioBlock {
public:
    static constexpr int kHistory = 4608;
    static constexpr int kWindow = 4096;
    // Correlation lags searched: 34 to 2047 samples, about 1412 Hz down to 23.4 Hz.
    static constexpr int kMinLag = 34;
    static constexpr int kMaxLag = 2047;
    // The correlation is exact up to half the window; the peak fit looks one lag beyond kMaxLag.
    static constexpr int kLastNormLag = kMaxLag + 1;

    Tuner(Node* parent, bool alwaysShown);

    // Off: false. On: the analysis, then true, so that the blocks behind are not compiled.
    bool compile() override;
    void resetState() override;
    static bool exec(AudioBlock* block, AudioFrame frame);

    // note, octave and cents from the period and "ref".
    void tunerGetRef();
    // The mains-hum notches on the recorded signal (nothing in the unit switches them on).
    void activateDeepNotches() { deepNotches.store(true, std::memory_order_relaxed); }

    NodeOnOff* getOnOff() const { return onOff; }
    NodeEnum* getRef() const { return ref; }
    bool isAlwaysShown() const { return alwaysShown; }
    bool isActive() const { return active.load(std::memory_order_relaxed); }
    // Smoothed period in samples; 0 while no pitch is shown.
    float getPeriod() const { return period.load(std::memory_order_relaxed); }
    // 0 = C .. 11 = B.
    int getNote() const { return note.load(std::memory_order_relaxed); }
    int getOctave() const { return octave.load(std::memory_order_relaxed); }
    float getCents() const { return cents.load(std::memory_order_relaxed); }
    // Peak level of the input, linear.
    float getLevel() const { return envelope.load(std::memory_order_relaxed); }

private:
    // Steps of the analysis; each returns the refined period, or 0 for no pitch.
    float estimatePeriod();
    // The position of the normalised correlation's peak near `lag` when there is one reaching
    // `floor` where expected; 0 otherwise.
    float peakAt(float lag, float floor) const;
    // The position of the peak at lag j to a fraction of a sample; 0 when j is no peak.
    float refinePeak(int j) const;
    void track(float estimate);

    NodeOnOff* onOff;
    NodeFloat* freq;
    NodeFloat* level;
    NodeEnum* ref;
    const bool alwaysShown;

    // Audio thread -> compile thread.
    AlignedArray<float> history{kHistory};
    std::atomic<int> writePos{0};
    std::atomic<float> envelope{0.0f};

    // Compile thread only.
    AlignedArray<float> frame{kWindow};
    AlignedArray<float> padded{kWindow};
    AlignedArray<float> spectrumA{2 * kWindow};
    AlignedArray<float> spectrumB{2 * kWindow};
    AlignedArray<float> corr{2 * kWindow};
    AlignedArray<float> norm{kLastNormLag + 1};
    float lastPeriod = 0.0f;

    // Audio thread only (coefficients set once in the constructor).
    QuadBiquad hpf;
    QuadBiquad notches[8];

    // Results, compile thread -> screens.
    std::atomic<float> period{0.0f};
    std::atomic<int> note{0};
    std::atomic<int> octave{0};
    std::atomic<float> cents{0.0f};

    bool on = false; // the switch as the audio has it (compile thread)
    std::atomic<bool> active{false};
    std::atomic<bool> deepNotches{false};
};
