#include "dsp/Fft.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "porting/Log.h"

unsigned char brev[64] = {
    0x00, 0x20, 0x10, 0x30, 0x08, 0x28, 0x18, 0x38, 0x04, 0x24, 0x14, 0x34, 0x0c, 0x2c, 0x1c, 0x3c,
    0x02, 0x22, 0x12, 0x32, 0x0a, 0x2a, 0x1a, 0x3a, 0x06, 0x26, 0x16, 0x36, 0x0e, 0x2e, 0x1e, 0x3e,
    0x01, 0x21, 0x11, 0x31, 0x09, 0x29, 0x19, 0x39, 0x05, 0x25, 0x15, 0x35, 0x0d, 0x2d, 0x1d, 0x3d,
    0x03, 0x23, 0x13, 0x33, 0x0b, 0x2b, 0x1b, 0x3b, 0x07, 0x27, 0x17, 0x37, 0x0f, 0x2f, 0x1f, 0x3f,
};

namespace {

constexpr const char* kTag = "Libs";

std::vector<float> twiddles;
int twiddlesN = -1;

bool isPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

int log2Of(int n)
{
    int b = 0;
    while ((1 << b) < n) ++b;
    return b;
}

// Reverses the low `bits` bits of k, six at a time through the table.
unsigned reverseBits(unsigned k, int bits, const unsigned char* table)
{
    std::uint64_t r = 0;
    int done = 0;
    while (done < bits) {
        r = (r << 6) | table[k & 63];
        k >>= 6;
        done += 6;
    }
    return static_cast<unsigned>(r >> (done - bits));
}

// One transform in place on x, then the bit-reversed gather into y. inverse selects e^(+i theta)
// twiddles and the 1/n scaling. Each radix-4 butterfly stores its outputs in the order 0, 2, 1, 3 so
// that the whole transform ends in plain binary bit-reversed order.
void transform(int n, float* x, const float* w, float* y, const unsigned char* table, bool inverse)
{
    if (n == 1) {
        y[0] = x[0];
        y[1] = x[1];
        return;
    }
    const int lastRadix = getFtButterflySize(n);
    const float sign = inverse ? -1.0f : 1.0f; // sign of the sine in the e^(-/+ i theta) product
    int tw = 0; // float offset of the current stage's twiddles
    for (int len = n; len > lastRadix; len /= 4) {
        const int s = len / 4;
        for (int b = 0; b < n; b += len) {
            float* p = x + 2 * b;
            for (int q = 0; q < s; ++q) {
                float* a0 = p + 2 * q;
                float* a1 = a0 + 2 * s;
                float* a2 = a1 + 2 * s;
                float* a3 = a2 + 2 * s;
                float t0r = a0[0] + a2[0], t0i = a0[1] + a2[1];
                float t1r = a0[0] - a2[0], t1i = a0[1] - a2[1];
                float t2r = a1[0] + a3[0], t2i = a1[1] + a3[1];
                float t3r = a1[0] - a3[0], t3i = a1[1] - a3[1];
                // Forward: y1 = t1 - i t3, y3 = t1 + i t3; the inverse swaps them.
                float y1r = t1r + sign * t3i, y1i = t1i - sign * t3r;
                float y3r = t1r - sign * t3i, y3i = t1i + sign * t3r;
                float y0r = t0r + t2r, y0i = t0i + t2i;
                float y2r = t0r - t2r, y2i = t0i - t2i;
                const float* c = w + tw + 6 * q;
                // (re + i im)(cos -/+ i sin)
                auto rot = [sign](float re, float im, float co, float si, float* out) {
                    out[0] = re * co + sign * im * si;
                    out[1] = im * co - sign * re * si;
                };
                a0[0] = y0r;
                a0[1] = y0i;
                rot(y2r, y2i, c[2], c[3], a1);
                rot(y1r, y1i, c[0], c[1], a2);
                rot(y3r, y3i, c[4], c[5], a3);
            }
        }
        tw += 6 * s;
    }
    if (lastRadix == 4) {
        for (int b = 0; b < n; b += 4) {
            float* a0 = x + 2 * b;
            float* a1 = a0 + 2;
            float* a2 = a0 + 4;
            float* a3 = a0 + 6;
            float t0r = a0[0] + a2[0], t0i = a0[1] + a2[1];
            float t1r = a0[0] - a2[0], t1i = a0[1] - a2[1];
            float t2r = a1[0] + a3[0], t2i = a1[1] + a3[1];
            float t3r = a1[0] - a3[0], t3i = a1[1] - a3[1];
            a0[0] = t0r + t2r;
            a0[1] = t0i + t2i;
            a1[0] = t0r - t2r;
            a1[1] = t0i - t2i;
            a2[0] = t1r + sign * t3i;
            a2[1] = t1i - sign * t3r;
            a3[0] = t1r - sign * t3i;
            a3[1] = t1i + sign * t3r;
        }
    } else {
        for (int b = 0; b < n; b += 2) {
            float* a0 = x + 2 * b;
            float* a1 = a0 + 2;
            float r = a0[0] - a1[0], i = a0[1] - a1[1];
            a0[0] += a1[0];
            a0[1] += a1[1];
            a1[0] = r;
            a1[1] = i;
        }
    }
    const int bits = log2Of(n);
    const float scale = inverse ? 1.0f / static_cast<float>(n) : 1.0f;
    for (int k = 0; k < n; ++k) {
        unsigned src = reverseBits(static_cast<unsigned>(k), bits, table);
        y[2 * k] = x[2 * src] * scale;
        y[2 * k + 1] = x[2 * src + 1] * scale;
    }
}

// The size of a call, or 0 when it is not a power of two the transform can do.
int usableSize(float n)
{
    if (!(n >= 1.0f && n <= static_cast<float>(1 << 28))) return 0;
    int size = static_cast<int>(n);
    return isPowerOfTwo(size) ? size : 0;
}

} // namespace

int getFtButterflySize(int n)
{
    while (n > 1 && n % 4 == 0) n /= 4;
    return n == 1 ? 4 : 2;
}

void twiddle_gen(float* w, int n)
{
    const double twoPi = 6.283185308;
    int k = 0;
    for (int j = 1; j <= n / 4; j *= 4) {
        for (int i = 0; i < n / 4; i += j) {
            double a = twoPi * i / n;
            w[k++] = static_cast<float>(std::cos(a));
            w[k++] = static_cast<float>(std::sin(a));
            w[k++] = static_cast<float>(std::cos(2 * a));
            w[k++] = static_cast<float>(std::sin(2 * a));
            w[k++] = static_cast<float>(std::cos(3 * a));
            w[k++] = static_cast<float>(std::sin(3 * a));
        }
    }
}

void calculateTwiddles(int n)
{
    if (n == twiddlesN) return;
    twiddles.assign(2 * static_cast<std::size_t>(n), 0.0f);
    twiddle_gen(twiddles.data(), n);
    twiddlesN = n;
    LOG_I(kTag, "Generated twiddles with size %d\n", n);
}

void DSPF_sp_fftSPxSP_natural(int n, float* x, float* w, float* y, unsigned char* table, int, int, int)
{
    if (isPowerOfTwo(n)) transform(n, x, w, y, table, false);
}

void DSPF_sp_ifftSPxSP_natural(int n, float* x, float* w, float* y, unsigned char* table, int, int, int)
{
    if (isPowerOfTwo(n)) transform(n, x, w, y, table, true);
}

void getFft(float* in, float* out, float n)
{
    int size = usableSize(n);
    if (size == 0) return;
    std::vector<float> work(2 * static_cast<std::size_t>(size));
    calculateTwiddles(size);
    real2Complex(static_cast<unsigned>(size), in, work.data());
    DSPF_sp_fftSPxSP_natural(size, work.data(), twiddles.data(), out, brev, getFtButterflySize(size), 0, size);
}

void getIfft(float* in, float* out, float n)
{
    int size = usableSize(n);
    if (size == 0) return;
    calculateTwiddles(size);
    DSPF_sp_ifftSPxSP_natural(size, in, twiddles.data(), out, brev, getFtButterflySize(size), 0, size);
}

void real2Complex(unsigned n, float* re, float* out)
{
    for (unsigned k = 0; k < n; ++k) {
        out[2 * k] = re[k];
        out[2 * k + 1] = 0.0f;
    }
}

void complexMultiply(unsigned n, float* a, float* b)
{
    for (unsigned k = 0; k < n; ++k) {
        float ar = a[2 * k], ai = a[2 * k + 1];
        float br = b[2 * k], bi = b[2 * k + 1];
        b[2 * k] = ar * br - ai * bi;
        b[2 * k + 1] = ar * bi + ai * br;
    }
}

unsigned bitr(unsigned x)
{
    x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    x = ((x >> 4) & 0x0f0f0f0fu) | ((x & 0x0f0f0f0fu) << 4);
    x = ((x >> 8) & 0x00ff00ffu) | ((x & 0x00ff00ffu) << 8);
    return (x >> 16) | (x << 16);
}
