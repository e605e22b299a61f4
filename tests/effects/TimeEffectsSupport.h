#pragma once
// Measurements shared by the tests of the modulation, delay, reverb and cabinet blocks.
#include "BlockTestUtil.h"

#include <cmath>
#include <complex>
#include <vector>

namespace fx2test {

// Amplitude of the hz component of x over [from, to) (a whole number of periods for a clean read).
inline double amplitudeIn(const std::vector<float>& x, std::size_t from, std::size_t to, double hz) {
    std::complex<double> acc = 0;
    for (std::size_t i = from; i < to; ++i)
        acc += double(x[i]) * std::polar(1.0, -2 * dsptest::kPi * hz * double(i) / dsptest::kFs);
    return 2 * std::abs(acc) / double(to - from);
}

inline double rmsIn(const std::vector<float>& x, std::size_t from, std::size_t to) {
    double acc = 0;
    for (std::size_t i = from; i < to; ++i)
        acc += double(x[i]) * x[i];
    return std::sqrt(acc / double(to - from));
}

// A sine of hz for `on` samples, then silence up to n.
inline std::vector<float> burst(std::size_t n, std::size_t on, double hz, double amp = 0.5) {
    auto s = dsptest::sine(n, hz, amp);
    for (std::size_t i = on; i < n; ++i)
        s[i] = 0.0f;
    return s;
}

inline std::vector<float> impulse(std::size_t n, std::size_t at = 0, float v = 1.0f) {
    std::vector<float> x(n);
    x[at] = v;
    return x;
}

// Positions of the local minima of an envelope that dip below `below`, at least `gap` apart.
inline std::vector<std::size_t> dips(const std::vector<float>& x, float below, std::size_t gap) {
    std::vector<std::size_t> at;
    for (std::size_t i = 1; i + 1 < x.size(); ++i)
        if (x[i] < below && x[i] <= x[i - 1] && x[i] <= x[i + 1] && (at.empty() || i - at.back() > gap))
            at.push_back(i);
    return at;
}

} // namespace fx2test
