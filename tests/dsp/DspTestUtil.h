#pragma once
// Plain double-precision references and signal helpers for the DSP block tests.
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace dsptest {

constexpr double kFs = 48000.0;
constexpr double kPi = std::numbers::pi;

inline std::vector<float> noise(std::size_t n, unsigned seed, float amp = 0.5f)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-amp, amp);
    std::vector<float> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}

inline std::vector<float> sine(std::size_t n, double hz, double amp = 0.5)
{
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<float>(amp * std::sin(2 * kPi * hz * static_cast<double>(i) / kFs));
    return v;
}

// b0, b1, b2, a1, a2 in double.
struct Sos {
    double b0, b1, b2, a1, a2;
};

// Transposed direct form II in double.
inline std::vector<double> filter(const Sos& s, const std::vector<float>& x)
{
    std::vector<double> y(x.size());
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        double in = x[i];
        double out = s.b0 * in + s1;
        s1 = s2 + s.b1 * in - s.a1 * out;
        s2 = s.b2 * in - s.a2 * out;
        y[i] = out;
    }
    return y;
}

// |H| at hz of a section.
inline double magnitude(const Sos& s, double hz)
{
    std::complex<double> z1 = std::polar(1.0, -2 * kPi * hz / kFs);
    auto num = s.b0 + s.b1 * z1 + s.b2 * z1 * z1;
    auto den = 1.0 + s.a1 * z1 + s.a2 * z1 * z1;
    return std::abs(num / den);
}

// Amplitude of the hz component of x from sample `from` on (a whole number of periods).
inline double amplitudeAt(const std::vector<float>& x, std::size_t from, double hz)
{
    std::complex<double> acc = 0;
    for (std::size_t i = from; i < x.size(); ++i)
        acc += double(x[i]) * std::polar(1.0, -2 * kPi * hz * static_cast<double>(i) / kFs);
    return 2 * std::abs(acc) / static_cast<double>(x.size() - from);
}

inline double db(double lin)
{
    return 20 * std::log10(lin);
}

// Direct DFT in double.
inline std::vector<std::complex<double>> dft(const std::vector<std::complex<double>>& x, bool inverse)
{
    const std::size_t n = x.size();
    std::vector<std::complex<double>> e(n), out(n);
    const double sign = inverse ? 1.0 : -1.0;
    for (std::size_t m = 0; m < n; ++m)
        e[m] = std::polar(1.0, sign * 2 * kPi * static_cast<double>(m) / static_cast<double>(n));
    for (std::size_t k = 0; k < n; ++k) {
        std::complex<double> acc = 0;
        for (std::size_t m = 0; m < n; ++m) acc += x[m] * e[(k * m) % n];
        out[k] = inverse ? acc / static_cast<double>(n) : acc;
    }
    return out;
}

// Runs process(in, out, count) over x in pieces of `split` samples.
inline std::vector<float> runSplit(const std::vector<float>& x, int split,
                                   const std::function<void(const float*, float*, int)>& process)
{
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); i += split) {
        int n = static_cast<int>(std::min<std::size_t>(split, x.size() - i));
        process(x.data() + i, y.data() + i, n);
    }
    return y;
}

// Largest |a - b| relative to the largest |b|.
inline double relError(const std::vector<float>& a, const std::vector<double>& b)
{
    double err = 0, peak = 1e-30;
    for (std::size_t i = 0; i < a.size(); ++i) {
        err = std::max(err, std::abs(a[i] - b[i]));
        peak = std::max(peak, std::abs(b[i]));
    }
    return err / peak;
}

} // namespace dsptest
