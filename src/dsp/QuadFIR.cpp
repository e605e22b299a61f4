#include "dsp/QuadFIR.h"


namespace {
int atLeastOne(int taps) { return taps < 1 ? 1 : taps; }
} // namespace

QuadFIR::QuadFIR(int n)
    : taps(atLeastOne(n)), stride((atLeastOne(n) + 3) & ~3), bank(2 * static_cast<std::size_t>(stride)),
      firState(static_cast<std::size_t>(atLeastOne(n)) + kBlock) {
    bank[taps - 1] = 1.0f;
}

void QuadFIR::publish(const float* next) {
    int cur = active.load(std::memory_order_relaxed);
    // The blocks reload unchanged responses on every compile pass: those need no hand-over.
    if (std::memcmp(bank.data() + cur * stride, next, taps * sizeof(float)) == 0)
        return;
    active.store(1 - cur, std::memory_order_release);
}

void QuadFIR::load(const float* ir) {
    float* c = spare();
    for (int k = 0; k < taps; ++k)
        c[k] = ir[taps - 1 - k];
    publish(c);
}

void QuadFIR::load_blend(const float* ir, float wet) {
    float* c = spare();
    for (int k = 0; k < taps; ++k)
        c[k] = wet * ir[taps - 1 - k];
    c[taps - 1] = wet * ir[0] + (1.0f - wet);
    publish(c);
}

void QuadFIR::load_smooth_blend(const float* ir, float wet, float s) {
    const float* cur = bank.data() + active.load(std::memory_order_relaxed) * stride;
    float* c = spare();
    for (int k = 0; k < taps; ++k) {
        float target = wet * ir[taps - 1 - k];
        if (k == taps - 1)
            target += 1.0f - wet;
        c[k] = (1.0f - s) * cur[k] + s * target;
    }
    publish(c);
}
