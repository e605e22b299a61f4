#include "effects/Tuner.h"

#include "dsp/Fft.h"
#include "effects/BlockHelpers.h"
#include "params/NodeEnum.h"
#include "params/NodeFloat.h"
#include "params/NodeItem.h"
#include "params/NodeOnOff.h"
#include "params/Storage.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr float kSampleRate = 48000.0f;
constexpr float kCentsPerNeper = 1731.234f; // 1200 / ln 2
constexpr float kOneOver1200 = 0.00083333335f;
// Newest half window quieter than this (sum of squares over 2048 samples, about -60 dBFS RMS):
// nothing is played.
constexpr double kMinEnergy = 2.230272e-6;
// The normalised correlation peak must reach this to count as periodic.
constexpr float kPeriodicity = 0.92f;
// Lags whose older half holds less than 1/16 of the newest half's energy are not compared.
constexpr double kMinLagEnergy = 16.0;
// A sub-multiple's peak must lie this close to where the division puts it: samples plus a share of
// the lag.
constexpr float kPeakTolerance = 0.25f;
constexpr float kPeakToleranceShare = 0.005f;
// The peak fit spans the lags within this much of the peak's height, at most 1/16 of its lag away.
constexpr float kFitDrop = 0.01f;
constexpr int kFitReachDivisor = 16;
// Largest mean difference between the signal and itself one period earlier, relative to its level.
constexpr float kMaxWaveformDifference = 0.3f;
// Two estimates further apart than this are two different notes.
constexpr float kTrackingCents = 50.0f;
constexpr float kSmoothing = 0.19f;
constexpr float kEnvelopeDecay = 0.9999f;
constexpr float kNoLevelDb = -120.0f;

// The twelve notes of octave 0 for A4 = 440 Hz, C0 first.
constexpr float kOctaveZero[12] = {16.351587f, 17.323914f, 18.354048f, 19.445436f, 20.601723f, 21.826765f,
                                   23.124651f, 24.499714f, 25.956543f, 27.5f,      29.135235f, 30.86771f};

// Mains hum (50 and 60 Hz) and its harmonics, in the order the notches run.
constexpr float kNotchHz[8] = {50, 60, 100, 120, 150, 180, 200, 240};

const char* const kRefOptions[] = {"432", "434", "436", "438", "440", "442", "444", "446", "448"};

float centsWrap(float ratio)
{
    float c = kCentsPerNeper * std::log(ratio);
    c -= 1200.0f * std::trunc(c * kOneOver1200);
    if (c > 600.0f) c -= 1200.0f;
    else if (c < -600.0f) c += 1200.0f;
    return c;
}

} // namespace

float getCentsErrorNormalized(float f, float ref)
{
    return centsWrap(f / ref);
}

Tuner::Tuner(Node* parent, bool alwaysShown)
    : AudioBlock("Tuner", parent, &Tuner::exec, BLOCK_PREPEND), alwaysShown(alwaysShown)
{
    onOff = fx::makeEnable(parent);
    auto* folder = new NodeItem(parent, "tuner", "Tuner", "tuner", ItemType::MODULE);
    freq = fx::makeFloat(folder, {.key = "_freq", .label = "Freq", .min = 0, .max = 2000, .def = 0});
    level = fx::makeFloat(folder, {.key = "lvl", .label = "Level", .min = -60, .max = 0, .def = 0, .unit = "dB"});
    ref = new NodeEnum(folder, "ref", "Ref", std::vector<const char*>(std::begin(kRefOptions), std::end(kRefOptions)),
                       "440");
    Storage::addItem(ref);

    hpf.set_hpf_2_order(40.0f, 0.7f);
    for (int i = 0; i < 8; ++i) notches[i].set_peaking(kNotchHz[i], 20.0f, -60.0f, 1.0f);
}

bool Tuner::exec(AudioBlock* block, AudioFrame frame)
{
    auto* self = static_cast<Tuner*>(block);
    if (!self->active.load(std::memory_order_relaxed)) return false;

    float* x = frame[0];
    self->hpf.exec(x, x, FRAME_SAMPLES);
    if (self->deepNotches.load(std::memory_order_relaxed))
        for (QuadBiquad& notch : self->notches) notch.exec(x, x, FRAME_SAMPLES);

    int pos = self->writePos.load(std::memory_order_relaxed);
    float env = self->envelope.load(std::memory_order_relaxed);
    for (int i = 0; i < FRAME_SAMPLES; ++i) {
        std::atomic_ref<float>(self->history[size_t(pos)]).store(x[i], std::memory_order_relaxed);
        if (++pos == kHistory) pos = 0;
        const float a = std::fabs(x[i]);
        env = a > env ? a : env * kEnvelopeDecay;
    }
    self->envelope.store(env, std::memory_order_relaxed);
    self->writePos.store(pos, std::memory_order_release);

    std::memset(frame, 0, sizeof(float) * FRAME_CHANNELS * FRAME_SAMPLES);
    return true;
}

bool Tuner::compile()
{
    // Muting the chain, or giving it back, is a step in the output: the quiet point.
    fx::takeStructure(on, fx::isOn(onOff, true));
    active.store(on, std::memory_order_relaxed);
    if (!on) return false;

    track(estimatePeriod());

    const float env = envelope.load(std::memory_order_relaxed);
    level->setValue(env > 0.0f ? 20.0f * std::log10(env) : kNoLevelDb);
    tunerGetRef();
    return true;
}

float Tuner::estimatePeriod()
{
    constexpr int kHalf = kWindow / 2;

    // The newest kWindow samples in time order.
    int start = writePos.load(std::memory_order_acquire) - kWindow;
    if (start < 0) start += kHistory;
    for (int j = 0; j < kWindow; ++j) {
        int k = start + j;
        if (k >= kHistory) k -= kHistory;
        frame[size_t(j)] = std::atomic_ref<float>(history[size_t(k)]).load(std::memory_order_relaxed);
    }

    // r[k] = sum over the newest half of x[m] x[m-k]: the newest half, zero-padded in front, against
    // the whole window; the padding keeps the circular product from wrapping for lags up to kHalf.
    double energy = 0.0;
    std::fill_n(padded.data(), kHalf, 0.0f);
    for (int j = kHalf; j < kWindow; ++j) {
        padded[size_t(j)] = frame[size_t(j)];
        energy += double(frame[size_t(j)]) * frame[size_t(j)];
    }
    getFft(padded.data(), spectrumA.data(), float(kWindow));
    getFft(frame.data(), spectrumB.data(), float(kWindow));
    for (int k = 0; k < kWindow; ++k) spectrumB[size_t(2 * k + 1)] = -spectrumB[size_t(2 * k + 1)];
    complexMultiply(kWindow, spectrumA.data(), spectrumB.data());
    getIfft(spectrumB.data(), corr.data(), float(kWindow));
    float* r = corr.data();
    for (int k = 0; k < kWindow; ++k) r[k] = r[2 * k];
    const float r0 = r[0];
    if (r0 <= 0.0f || energy < kMinEnergy) return 0.0f;

    // Normalised by the energies of both halves it multiplies, the correlation is 1 exactly at the
    // period of any periodic wave and stays 1 while the note fades. The raw sum is neither: the
    // window's edges shift its peak (low sines by several cents), and a fading note correlates best
    // with its own louder past, which pulls the peak towards longer lags.
    float* n = norm.data();
    double lagged = energy;
    for (int k = 0; k <= kLastNormLag; ++k) {
        if (k > 0) {
            const double in = frame[size_t(kHalf - k)], out = frame[size_t(kWindow - k)];
            lagged += in * in - out * out;
        }
        // A lag reaching back into near silence is no match, and there the rounding of the
        // transforms would dominate the quotient.
        n[k] = lagged * kMinLagEnergy >= energy ? float(double(r[k]) / std::sqrt(energy * lagged)) : 0.0f;
    }

    // The most similar lag.
    float best = 0.0f;
    int t0 = 0;
    for (int k = kMinLag; k <= kMaxLag; ++k) {
        if (n[k] > best) {
            best = n[k];
            t0 = k;
        }
    }
    if (best < kPeriodicity) return 0.0f;

    // The waveform must repeat after t0 samples, not merely correlate.
    float sum = 0.0f, difference = 0.0f;
    for (int j = 0; j < kHalf; ++j) {
        const float x = frame[size_t(kHalf + j)];
        sum += std::fabs(x);
        difference += std::fabs(x - frame[size_t(kHalf + j - t0)]);
    }
    if (sum <= 0.0f || difference / sum > kMaxWaveformDifference) return 0.0f;

    // A periodic wave correlates as well at every multiple of its period: go down to the shortest
    // sub-multiple of t0 that stands on a peak of its own as high as the main one. A peak counts only
    // where the division predicts it: t0/32 must not pass for t0/31 merely because it lies on the
    // flank of that peak.
    const float floor = kPeriodicity * best;
    float period = refinePeak(t0);
    // A broad lobe still rising at the end of the lag range is no peak.
    if (period <= 0.0f) return 0.0f;
    if (t0 > 2 * kMinLag) {
        const float whole = period;
        for (int d = 2; whole / float(d) > float(kMinLag); ++d) {
            const float p = peakAt(whole / float(d), floor);
            if (p > 0.0f) period = p;
        }
    }

    // Then measure the period on its longest multiples in range: the peak's position is found to a
    // fraction of a sample, which divided by the multiple is a fraction of a cent.
    for (int m = 2; float(m) * period < float(kMaxLag); m *= 2) {
        const float p = peakAt(float(m) * period, floor);
        if (p <= 0.0f) break;
        period = p / float(m);
    }
    const int longest = int(float(kMaxLag) / period);
    if (longest > 1) {
        const float p = peakAt(float(longest) * period, floor);
        if (p > 0.0f) period = p / float(longest);
    }
    return period >= float(kMinLag) ? period : 0.0f;
}

float Tuner::peakAt(float lag, float floor) const
{
    // Wrong sub-multiples of a long lag fall at least 1.7 % of their lag (and over half a sample)
    // away from any peak; right ones within the fit's error of it.
    const float tolerance = kPeakTolerance + kPeakToleranceShare * lag;
    const float* n = norm.data();
    int k = std::clamp(int(std::lround(lag)), kMinLag, kMaxLag);
    const int step = n[k + 1] > n[k] ? 1 : -1;
    while (k + step >= kMinLag && k + step <= kMaxLag && n[k + step] > n[k] &&
           std::fabs(float(k + step) - lag) <= tolerance + 1.0f)
        k += step;
    if (n[k] < floor) return 0.0f;
    const float p = refinePeak(k);
    return p > 0.0f && std::fabs(p - lag) <= tolerance ? p : 0.0f;
}

float Tuner::refinePeak(int j) const
{
    const float* n = norm.data();
    if (n[j] < n[j - 1] || n[j] < n[j + 1]) return 0.0f;
    // A least-squares parabola through the top of the peak: the lags within kFitDrop of its height,
    // at least the two neighbours. On a low note's broad peak that spans many lags, which averages
    // out noise and the transforms' rounding; on a sharp one it is the three-point fit.
    const int reach = std::max(1, j / kFitReachDivisor);
    int lo = j - 1, hi = j + 1;
    while (lo > j - reach && lo > kMinLag - 1 && n[lo - 1] >= n[j] - kFitDrop) --lo;
    while (hi < j + reach && hi < kLastNormLag && n[hi + 1] >= n[j] - kFitDrop) ++hi;

    double s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, sy = 0, sxy = 0, sx2y = 0;
    for (int k = lo; k <= hi; ++k) {
        const double x = k - j, y = n[k];
        s0 += 1;
        s1 += x;
        s2 += x * x;
        s3 += x * x * x;
        s4 += x * x * x * x;
        sy += y;
        sxy += x * y;
        sx2y += x * x * y;
    }
    // Normal equations [s4 s3 s2; s3 s2 s1; s2 s1 s0] (a b c) = (sx2y sxy sy), by Cramer's rule.
    const double det = s4 * (s2 * s0 - s1 * s1) - s3 * (s3 * s0 - s1 * s2) + s2 * (s3 * s1 - s2 * s2);
    if (det == 0.0) return 0.0f;
    const double a = (sx2y * (s2 * s0 - s1 * s1) - s3 * (sxy * s0 - s1 * sy) + s2 * (sxy * s1 - s2 * sy)) / det;
    const double b = (s4 * (sxy * s0 - sy * s1) - sx2y * (s3 * s0 - s1 * s2) + s2 * (s3 * sy - sxy * s2)) / det;
    if (!(a < 0.0)) return 0.0f;
    // Noise may put the highest lag off the middle of a broad top; its vertex still lies within.
    const double offset = -b / (2.0 * a);
    return offset >= lo - j && offset <= hi - j ? float(j + offset) : 0.0f;
}

void Tuner::track(float estimate)
{
    float shown = 0.0f;
    if (estimate > 0.0f) {
        if (lastPeriod <= 0.0f) {
            // First sighting: shown only once the next estimate agrees.
            lastPeriod = estimate;
        } else if (std::fabs(centsWrap(lastPeriod / estimate)) < kTrackingCents) {
            lastPeriod = (1.0f - kSmoothing) * lastPeriod + kSmoothing * estimate;
            shown = lastPeriod;
        } else {
            lastPeriod = 0.0f;
        }
    } else {
        lastPeriod = 0.0f;
    }
    period.store(shown, std::memory_order_relaxed);
    freq->setValue(shown > 0.0f ? kSampleRate / shown : 0.0f);
}

void Tuner::tunerGetRef()
{
    int refHz = std::atoi(ref->getValueText() ? ref->getValueText() : "");
    if (refHz <= 0) refHz = 440;
    const float scale = float(refHz) / 440.0f;
    float table[12];
    for (int i = 0; i < 12; ++i) table[i] = kOctaveZero[i] * scale;

    const float p = period.load(std::memory_order_relaxed);
    if (p <= 0.0f) {
        note.store(0, std::memory_order_relaxed);
        octave.store(0, std::memory_order_relaxed);
        cents.store(0.0f, std::memory_order_relaxed);
        return;
    }
    const float f = kSampleRate / p;
    int nearest = 0;
    float nearestCents = 0.0f;
    for (int i = 0; i < 12; ++i) {
        float d = -1.0f;
        if (f > 2.0f) {
            float g = f;
            d = std::fabs(centsWrap(g / table[i]));
            while (g > 4.0f) {
                g *= 0.5f;
                d = std::min(d, std::fabs(centsWrap(g / table[i])));
            }
        }
        if (i == 0 || d < nearestCents) {
            nearest = i;
            nearestCents = d;
        }
    }
    const float x = f / table[nearest];
    note.store(nearest, std::memory_order_relaxed);
    octave.store(int(std::lround(std::log2(x))), std::memory_order_relaxed);
    cents.store(centsWrap(x), std::memory_order_relaxed);
}

void Tuner::resetState()
{
    hpf.reset();
    for (QuadBiquad& notch : notches) notch.reset();
    // The compile thread may be reading the history: sample by sample, as the audio thread writes it.
    for (int i = 0; i < kHistory; ++i)
        std::atomic_ref<float>(history[size_t(i)]).store(0.0f, std::memory_order_relaxed);
    envelope.store(0.0f, std::memory_order_relaxed);
}
