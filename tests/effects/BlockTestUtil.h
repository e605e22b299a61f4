#pragma once
// Drives an effect block as the engine does, outside a running chain: build it under a scratch
// folder, set its nodes through their text form, compile, pass signals through exec frame by frame
// and measure what comes out.
#include "audio/AudioBlock.h"
#include "dsp/DspTestUtil.h"
#include "params/Node.h"
#include "params/NodeItem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

namespace fxtest {

// Blocks and nodes live as long as the program, as they do on the unit; tests keep them reachable
// so that the leak checker reports only real leaks.
template <class T>
T* keep(T* object)
{
    static auto* kept = new std::vector<void*>;
    kept->push_back(object);
    return object;
}

// A block folder under a root of its own.
inline Node* scratchFolder(const char* key = "block")
{
    auto* root = keep(new NodeItem(nullptr, "root", "root", "", ItemType::SYSTEM));
    return new NodeItem(root, key, key, "", ItemType::HFOLDER);
}

// Sets the node at `path` below the folder ("threshold", "wfolder\\pos") from its JSON value text
// ("-40", "\"ON\"").
inline void setNode(Node* folder, const std::string& path, const std::string& text)
{
    Node* node = folder->pathToNode(folder->getPath() + "\\" + path);
    if (!node) {
        ADD_FAILURE() << "no node " << path;
        return;
    }
    node->fromString(text);
}

inline Node* findNode(Node* folder, const std::string& path)
{
    return folder->pathToNode(folder->getPath() + "\\" + path);
}

// Two channels of equal length.
struct Stereo {
    std::vector<float> l, r;
    explicit Stereo(std::size_t n = 0) : l(n), r(n) {}
    Stereo(std::vector<float> left, std::vector<float> right) : l(std::move(left)), r(std::move(right)) {}
    std::size_t size() const { return l.size(); }
};

// Runs the signal through exec in frames of 16 (a tail shorter than a frame is padded and cut).
// Between frames `between(frameIndex)` may change nodes and compile.
template <class Between>
Stereo run(AudioBlock* block, BlockExec exec, const Stereo& in, Between&& between)
{
    Stereo out(in.size());
    float frame[FRAME_CHANNELS][FRAME_SAMPLES];
    for (std::size_t at = 0, k = 0; at < in.size(); at += FRAME_SAMPLES, ++k) {
        between(k);
        std::size_t n = std::min<std::size_t>(FRAME_SAMPLES, in.size() - at);
        for (std::size_t i = 0; i < FRAME_SAMPLES; ++i) {
            frame[0][i] = i < n ? in.l[at + i] : 0.0f;
            frame[1][i] = i < n ? in.r[at + i] : 0.0f;
        }
        EXPECT_FALSE(exec(block, frame));
        std::copy_n(frame[0], n, out.l.begin() + long(at));
        std::copy_n(frame[1], n, out.r.begin() + long(at));
    }
    return out;
}

inline Stereo run(AudioBlock* block, BlockExec exec, const Stereo& in)
{
    return run(block, exec, in, [](std::size_t) {});
}

// RMS from sample `from` on.
inline double rms(const std::vector<float>& x, std::size_t from = 0)
{
    double acc = 0;
    for (std::size_t i = from; i < x.size(); ++i) acc += double(x[i]) * x[i];
    return x.size() > from ? std::sqrt(acc / double(x.size() - from)) : 0.0;
}

inline double peak(const std::vector<float>& x, std::size_t from = 0)
{
    double p = 0;
    for (std::size_t i = from; i < x.size(); ++i) p = std::max(p, double(std::fabs(x[i])));
    return p;
}

// Level of out against in in dB, from sample `from` on.
inline double gainDb(const std::vector<float>& out, const std::vector<float>& in, std::size_t from = 0)
{
    return dsptest::db(rms(out, from) / rms(in, from));
}

// Gain in dB of a sine of `hz` Hz and amplitude `amp` through the left (or right) channel, after
// the filters have settled. The other channel gets the same sine.
inline double sineGainDb(AudioBlock* block, BlockExec exec, double hz, bool right = false, double amp = 0.25)
{
    const std::size_t n = 48000 / 4;
    auto s = dsptest::sine(n, hz, amp);
    Stereo out = run(block, exec, Stereo(s, s));
    const std::size_t from = n / 2;
    return dsptest::db(dsptest::amplitudeAt(right ? out.r : out.l, from, hz) / amp);
}

// Largest difference between neighbouring samples (a click shows as a big step).
inline double maxStep(const std::vector<float>& x, std::size_t from = 1)
{
    double m = 0;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < x.size(); ++i)
        m = std::max(m, double(std::fabs(x[i] - x[i - 1])));
    return m;
}

inline bool allFinite(const std::vector<float>& x)
{
    return std::all_of(x.begin(), x.end(), [](float v) { return std::isfinite(v); });
}

// Measurements of the modulation, delay, reverb and cabinet tests.
// Amplitude of the hz component of x over [from, to) (a whole number of periods for a clean read).
inline double amplitudeIn(const std::vector<float>& x, std::size_t from, std::size_t to, double hz)
{
    std::complex<double> acc = 0;
    for (std::size_t i = from; i < to; ++i)
        acc += double(x[i]) * std::polar(1.0, -2 * dsptest::kPi * hz * double(i) / dsptest::kFs);
    return 2 * std::abs(acc) / double(to - from);
}

inline double rmsIn(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    double acc = 0;
    for (std::size_t i = from; i < to; ++i) acc += double(x[i]) * x[i];
    return std::sqrt(acc / double(to - from));
}

// A sine of hz for `on` samples, then silence up to n.
inline std::vector<float> burst(std::size_t n, std::size_t on, double hz, double amp = 0.5)
{
    auto s = dsptest::sine(n, hz, amp);
    for (std::size_t i = on; i < n; ++i) s[i] = 0.0f;
    return s;
}

inline std::vector<float> impulse(std::size_t n, std::size_t at = 0, float v = 1.0f)
{
    std::vector<float> x(n);
    x[at] = v;
    return x;
}

// Positions of the local minima of an envelope that dip below `below`, at least `gap` apart.
inline std::vector<std::size_t> dips(const std::vector<float>& x, float below, std::size_t gap)
{
    std::vector<std::size_t> at;
    for (std::size_t i = 1; i + 1 < x.size(); ++i)
        if (x[i] < below && x[i] <= x[i - 1] && x[i] <= x[i + 1] && (at.empty() || i - at.back() > gap))
            at.push_back(i);
    return at;
}

} // namespace fxtest
