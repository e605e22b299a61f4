#include "dsp/QuadComp.h"

#include "porting/Log.h"

namespace {
constexpr const char* kTag = "QuadComp";
// ln(9)/48: the smoothing coefficient per sample at 48000 Hz is exp(-this/ms) for a 10 %-to-90 %
// response in that many milliseconds.
constexpr float kTimeConstant = 0.04577551f;
constexpr float kOneMsCoef = 0.9552564f;
} // namespace

void QuadComp::load(float thr, float ratio, float attackMs, float releaseMs, float makeupDb, float kneeDb)
{
    Coeffs k;
    k.makeup = std::exp(makeupDb * 0.115129255f);
    k.thr = thr;
    // The negated tests also turn NaN into the fall-back.
    if (kneeDb < 0.0f || std::isnan(kneeDb)) {
        LOG_E(kTag, "Knee must be > 0\n");
        kneeDb = 0.0f;
    }
    k.kneeLo = thr - kneeDb / 2;
    k.kneeHi = thr + kneeDb / 2;
    if (!(ratio >= 1.0f)) {
        LOG_E(kTag, "Ratio must be >= 1\n");
        k.slope = 1.0f;
        k.offset = 0.0f;
        k.kneeCoef = 0.0f;
    } else {
        k.slope = 1.0f / ratio;
        k.offset = (1.0f - 1.0f / ratio) * thr;
        // A hard knee never reaches the knee piece: store 0 rather than a division by zero.
        k.kneeCoef = kneeDb > 0.0f ? (1.0f / ratio - 1.0f) * 0.5f / kneeDb : 0.0f;
    }
    if (attackMs >= 1.0f) {
        k.att = std::exp(-kTimeConstant / attackMs);
    } else {
        LOG_E(kTag, "Attack time must be >= 1\n");
        k.att = kOneMsCoef;
    }
    if (releaseMs >= 1.0f) {
        k.rel = std::exp(-kTimeConstant / releaseMs);
    } else {
        LOG_E(kTag, "Release time must be >= 1\n");
        k.rel = kOneMsCoef;
    }
    k.attInv = 1.0f - k.att;
    k.relInv = 1.0f - k.rel;
    coeffs.publish(k);
}
