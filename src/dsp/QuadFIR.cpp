#include "dsp/QuadFIR.h"

namespace {
int atLeastOne(int taps)
{
    return taps < 1 ? 1 : taps;
}
int stride4(int taps)
{
    return (atLeastOne(taps) + 3) & ~3;
}
int partsAfterHead(int taps)
{
    return (atLeastOne(taps) - 1) / QuadFIR::kBlock;
}
constexpr int kSpectrum = RealFft32::kSpectrum;
// Undoes RealFft32's scaling: twice the DFT on the way in, 32 times on the way out.
constexpr float kSpectrumScale = 1.0f / 128.0f;
} // namespace

QuadFIR::QuadFIR(int n)
    : taps(atLeastOne(n)), stride(stride4(n)), parts(partsAfterHead(n)),
      setStride(stride4(n) + kBlock + partsAfterHead(n) * kSpectrum), bank(2 * static_cast<std::size_t>(setStride)),
      pairs(2 * static_cast<std::size_t>(parts) * kSpectrum), recent(3 * kBlock)
{
    for (int set = 0; set < 2; ++set) {
        bank[set * setStride + taps - 1] = 1.0f;
        bank[set * setStride + stride + kBlock - 1] = 1.0f;
    }
    blockSet = bank.data();
}

void QuadFIR::clear()
{
    std::memset(pairs.data(), 0, pairs.size() * sizeof(float));
    std::memset(recent.data(), 0, recent.size() * sizeof(float));
    std::memset(tail, 0, sizeof(tail));
    fill = 0;
}

void QuadFIR::startBlock()
{
    blockSet = bank.data() + active.load(std::memory_order_acquire) * setStride;
    float* r = recent.data();
    if (parts > 0) {
        newest = newest + 1 == parts ? 0 : newest + 1;
        float* slot = pairs.data() + newest * kSpectrum;
        RealFft32::forward(r, slot);
        std::memcpy(slot + parts * kSpectrum, slot, kSpectrum * sizeof(float));
        alignas(16) float acc[kSpectrum];
        // Oldest pair first, against the last partition first.
        multiplyAdd(slot + kSpectrum, blockSet + stride + kBlock, parts, acc);
        RealFft32::inverseUpperHalf(acc, tail);
    }
    std::memcpy(r, r + kBlock, kBlock * sizeof(float));
    std::memset(r + kBlock, 0, kBlock * sizeof(float));
}

void QuadFIR::exec(const float* in, float* out, int n)
{
    if (clearPending.exchange(false, std::memory_order_acquire)) clear();
    while (n > 0) {
        if (fill == 0) startBlock();
        const int m = n < kBlock - fill ? n : kBlock - fill;
        std::memcpy(recent.data() + kBlock + fill, in, m * sizeof(float));
        float y[kBlock];
        block16(blockSet + stride, recent.data() + 1, y, kBlock);
        for (int i = 0; i < m; ++i) out[i] = tail[fill + i] + y[fill + i];
        fill = fill + m == kBlock ? 0 : fill + m;
        in += m;
        out += m;
        n -= m;
    }
}

void QuadFIR::multiplyAddPortable(const float* __restrict x, const float* __restrict g, int count,
                                  float* __restrict acc)
{
    constexpr int kBins = RealFft32::kBins, kNyquist = RealFft32::kNyquist;
    float re[kBins] = {}, im[kBins] = {}, nyquist = 0.0f;
    for (int q = 0; q < count; ++q, x += kSpectrum, g += kSpectrum) {
        for (int b = 0; b < kBins; ++b) {
            re[b] += x[b] * g[b] - x[kBins + b] * g[kBins + b];
            im[b] += x[b] * g[kBins + b] + x[kBins + b] * g[b];
        }
        nyquist += x[kNyquist] * g[kNyquist];
    }
    for (int b = 0; b < kBins; ++b) {
        acc[b] = re[b];
        acc[kBins + b] = im[b];
    }
    acc[kNyquist] = nyquist;
    acc[kNyquist + 1] = acc[kNyquist + 2] = acc[kNyquist + 3] = 0.0f;
}

#if defined(__ARM_NEON)
// The 16 bins' sums stay in eight registers (named: g++ keeps an array of them in memory); each
// spectrum is four loads of four registers.
void QuadFIR::multiplyAddNeon(const float* __restrict x, const float* __restrict g, int count, float* __restrict acc)
{
    float32x4_t re0 = vdupq_n_f32(0.0f), re1 = re0, re2 = re0, re3 = re0;
    float32x4_t im0 = re0, im1 = re0, im2 = re0, im3 = re0;
    float nyquist = 0.0f;
    for (const float* end = x + count * kSpectrum; x != end; x += kSpectrum, g += kSpectrum) {
        const float32x4x4_t xr = vld1q_f32_x4(x), xi = vld1q_f32_x4(x + 16);
        const float32x4x4_t gr = vld1q_f32_x4(g), gi = vld1q_f32_x4(g + 16);
        re0 = vfmsq_f32(vfmaq_f32(re0, xr.val[0], gr.val[0]), xi.val[0], gi.val[0]);
        re1 = vfmsq_f32(vfmaq_f32(re1, xr.val[1], gr.val[1]), xi.val[1], gi.val[1]);
        re2 = vfmsq_f32(vfmaq_f32(re2, xr.val[2], gr.val[2]), xi.val[2], gi.val[2]);
        re3 = vfmsq_f32(vfmaq_f32(re3, xr.val[3], gr.val[3]), xi.val[3], gi.val[3]);
        im0 = vfmaq_f32(vfmaq_f32(im0, xr.val[0], gi.val[0]), xi.val[0], gr.val[0]);
        im1 = vfmaq_f32(vfmaq_f32(im1, xr.val[1], gi.val[1]), xi.val[1], gr.val[1]);
        im2 = vfmaq_f32(vfmaq_f32(im2, xr.val[2], gi.val[2]), xi.val[2], gr.val[2]);
        im3 = vfmaq_f32(vfmaq_f32(im3, xr.val[3], gi.val[3]), xi.val[3], gr.val[3]);
        nyquist += x[RealFft32::kNyquist] * g[RealFft32::kNyquist];
    }
    vst1q_f32_x4(acc, float32x4x4_t{{re0, re1, re2, re3}});
    vst1q_f32_x4(acc + 16, float32x4x4_t{{im0, im1, im2, im3}});
    vst1q_f32(acc + RealFft32::kNyquist, vsetq_lane_f32(nyquist, vdupq_n_f32(0.0f), 0));
}
#endif

void QuadFIR::publish(float* next)
{
    const float* cur = bank.data() + active.load(std::memory_order_relaxed) * setStride;
    // The blocks reload unchanged responses on every compile pass: those need no hand-over.
    if (std::memcmp(cur, next, taps * sizeof(float)) == 0) return;
    // The head: the first 16 taps in time, reversed like the rest, zero where the filter is shorter.
    float* head = next + stride;
    for (int j = 0; j < kBlock; ++j) head[kBlock - 1 - j] = j < taps ? next[taps - 1 - j] : 0.0f;
    // Partition p (taps 16 p .. 16 p + 15 in time) goes to spectrum parts - p, so that the oldest
    // block pair meets the last partition first.
    float* spectra = next + stride + kBlock;
    for (int p = 1; p <= parts; ++p) {
        alignas(16) float padded[RealFft32::kSize] = {};
        for (int j = 0; j < kBlock && kBlock * p + j < taps; ++j)
            padded[j] = next[taps - 1 - (kBlock * p + j)] * kSpectrumScale;
        RealFft32::forwardPortable(padded, spectra + (parts - p) * kSpectrum);
    }
    active.store(1 - active.load(std::memory_order_relaxed), std::memory_order_release);
}

void QuadFIR::load(const float* ir)
{
    float* c = spare();
    for (int k = 0; k < taps; ++k) c[k] = ir[taps - 1 - k];
    publish(c);
}

void QuadFIR::load_blend(const float* ir, float wet)
{
    float* c = spare();
    for (int k = 0; k < taps; ++k) c[k] = wet * ir[taps - 1 - k];
    c[taps - 1] = wet * ir[0] + (1.0f - wet);
    publish(c);
}

void QuadFIR::load_smooth_blend(const float* ir, float wet, float s)
{
    const float* cur = bank.data() + active.load(std::memory_order_relaxed) * setStride;
    float* c = spare();
    for (int k = 0; k < taps; ++k) {
        float target = wet * ir[taps - 1 - k];
        if (k == taps - 1) target += 1.0f - wet;
        c[k] = (1.0f - s) * cur[k] + s * target;
    }
    publish(c);
}
