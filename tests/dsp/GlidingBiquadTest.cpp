#include "dsp/GlidingBiquad.h"

#include "DspTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

using Design = std::function<void(QuadBiquad&)>;

// Runs x through the section in blocks of 16, redesigning it before block k with design(k).
std::vector<float> run(GlidingBiquad& s, const std::vector<float>& x, const std::function<Design(std::size_t)>& design)
{
    std::vector<float> y(x.size());
    for (std::size_t at = 0, k = 0; at + 16 <= x.size(); at += 16, ++k) {
        s.set(design(k));
        s.exec(x.data() + at, y.data() + at, 16);
    }
    return y;
}

// A section whose numerator is its denominator passes its input to the bit, also while it glides
// from one such design to another (a tone control at 0 dB whose frequency or width moves).
TEST(GlidingBiquad, FlatSectionPassesItsInputExactlyEvenWhileItGlides)
{
    const auto x = dsptest::noise(4800, 1);
    struct Case {
        const char* what;
        Design a, b;
    } cases[] = {
        {"identity", [](QuadBiquad& q) { q.set_coeffs(1, 0, 0, 0, 0); },
         [](QuadBiquad& q) { q.set_coeffs(1, 0, 0, 0, 0); }},
        {"peak at 0 dB, 100 Hz to 8 kHz", [](QuadBiquad& q) { q.set_peaking(100, 0.7f, 0); },
         [](QuadBiquad& q) { q.set_peaking(8000, 3, 0); }},
        {"shelves at 0 dB", [](QuadBiquad& q) { q.set_lpf_shelf(100, 0.7f, 0); },
         [](QuadBiquad& q) { q.set_hpf_shelf(5000, 0.7f, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GlidingBiquad s;
        // A new design every 4 blocks: the coefficients are always on their way.
        EXPECT_EQ(run(s, x, [&](std::size_t k) { return (k / 4) % 2 ? c.b : c.a; }), x);
    }
}

// Pulled to and fro between a resonant low-pass near DC and a resonant peak near Nyquist, the section
// is always between two designs: it stays finite and bounded. Left alone, it ends on its design.
TEST(GlidingBiquad, StaysStableMidGlideAndEndsOnItsDesign)
{
    const auto x = dsptest::noise(48000, 2);
    const Design low = [](QuadBiquad& q) { q.set_lpf_2_order(30, 8); };
    const Design high = [](QuadBiquad& q) { q.set_peaking(22000, 10, 15); };
    GlidingBiquad s;
    const auto y = run(s, x, [&](std::size_t k) { return k % 3 ? high : low; });
    EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](float v) { return std::isfinite(v) && std::fabs(v) < 50.0f; }));

    const auto sine = dsptest::sine(24000, 1000, 0.25);
    const auto settled = run(s, sine, [](std::size_t) { return [](QuadBiquad& q) { q.set_peaking(1000, 1, 6); }; });
    const QuadBiquad::Coeffs t = s.getTarget();
    const double expected = dsptest::magnitude({t.c[0], t.c[1], t.c[2], t.c[3], t.c[4]}, 1000);
    EXPECT_NEAR(dsptest::amplitudeAt(settled, 12000, 1000) / 0.25, expected, 1e-4 * expected);
}

} // namespace
