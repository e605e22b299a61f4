#include "effects/PickupTable.h"

#include <cmath>
#include <cstdio>
#include <numbers>

// A magnetic pickup with its cable is a resonant low-pass: a second-order response with a resonance
// frequency and peak (Q) that set its character. The response that makes pickup S sound like pickup T
// is T's response divided by S's, 1 at low frequencies; as a ratio of two analog second-order
// sections it has a stable, minimum-phase digital form (bilinear transform, the resonances
// prewarped). Its impulse response, cut to 1024 taps, is each table entry.
namespace {

struct Pickup {
    const char* name;
    double hz; // resonance
    double q; // resonance peak
};

constexpr Pickup kSources[3] = {
    {"HumBkr", 2800, 1.6},
    {"Single", 4800, 2.2},
    {"SingleBrite", 6000, 2.6},
};

constexpr Pickup kTargets[pickup_targets] = {
    {"HB-Bright", 3600, 1.8},      {"HB-Classic", 2600, 1.5},  {"HB-Modern", 3000, 1.3},     {"HB-Rails", 4200, 1.7},
    {"HB-Corvin", 2900, 1.9},      {"HB-Vintage", 2400, 1.4},  {"HB-Wide", 3800, 1.6},       {"HB-WideJazz", 4400, 1.5},
    {"HB-WideJazzBox", 2200, 1.2}, {"SC-Active", 5500, 0.9},   {"SC-Bridge+Mid", 5200, 2.0}, {"SC-Hot", 3900, 2.1},
    {"SC-Modern", 5000, 1.8},      {"SC-Neck+Mid", 4700, 1.9}, {"SC-P90", 3300, 2.3},        {"SC-P90J", 3500, 2.0},
    {"SC-Tele", 6200, 2.4},        {"SC-Vintage", 5600, 2.5},
};

constexpr double kFs = 48000.0;

float table[pickup_count][pickup_taps];
char names[pickup_count][40];

// (s^2/ws^2 + s/(ws qs) + 1) / (s^2/wt^2 + s/(wt qt) + 1) through the bilinear transform, and its
// impulse response.
void transfer(const Pickup& from, const Pickup& to, float* out)
{
    const double k = 2.0 * kFs;
    auto warp = [&](double hz) { return k * std::tan(std::numbers::pi * hz / kFs); };
    const double ws = warp(from.hz), wt = warp(to.hz);
    // s = k (1 - z^-1) / (1 + z^-1): c2 s^2 + c1 s + 1 becomes the coefficients below.
    auto section = [&](double w, double q, double* c) {
        const double c2 = k * k / (w * w), c1 = k / (w * q);
        c[0] = c2 + c1 + 1;
        c[1] = 2 - 2 * c2;
        c[2] = c2 - c1 + 1;
    };
    double num[3], den[3];
    section(ws, from.q, num);
    section(wt, to.q, den);
    const double b0 = num[0] / den[0], b1 = num[1] / den[0], b2 = num[2] / den[0];
    const double a1 = den[1] / den[0], a2 = den[2] / den[0];
    double s1 = 0, s2 = 0;
    for (int i = 0; i < pickup_taps; ++i) {
        const double x = i == 0 ? 1.0 : 0.0;
        const double y = b0 * x + s1;
        s1 = s2 + b1 * x - a1 * y;
        s2 = b2 * x - a2 * y;
        out[i] = float(y);
    }
}

struct Builder {
    Builder()
    {
        for (int s = 0; s < 3; ++s)
            for (int t = 0; t < pickup_targets; ++t) {
                const int i = s * pickup_targets + t;
                transfer(kSources[s], kTargets[t], table[i]);
                std::snprintf(names[i], sizeof names[i], "%s--%s", kSources[s].name, kTargets[t].name);
            }
    }
} builder;

} // namespace

#define ROW(i) table[i]
#define ROWS6(i) ROW(i), ROW(i + 1), ROW(i + 2), ROW(i + 3), ROW(i + 4), ROW(i + 5)
const float* const pickup_ptr[pickup_count] = {ROWS6(0),  ROWS6(6),  ROWS6(12), ROWS6(18), ROWS6(24),
                                               ROWS6(30), ROWS6(36), ROWS6(42), ROWS6(48)};
#undef ROW
#define ROW(i) names[i]
const char* const pickup_names[pickup_count] = {ROWS6(0),  ROWS6(6),  ROWS6(12), ROWS6(18), ROWS6(24),
                                                ROWS6(30), ROWS6(36), ROWS6(42), ROWS6(48)};
#undef ROW
#undef ROWS6
