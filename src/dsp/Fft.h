#pragma once

// Single-precision complex FFT of power-of-two size with one cached twiddle table, for the tuner's
// autocorrelation and the spectral tools. Compile thread only: the table is module state without a
// lock, and getFft allocates its work array. Complex arrays are interleaved (re, im).
// Results: forward X[k] = sum x[m] e^(-2 pi i k m / n); inverse x[m] = 1/n sum X[k] e^(+2 pi i k m / n).

// n real samples in, n complex bins out (2n floats). n arrives as a float and is used as an integer.
void getFft(float* in, float* out, float n);
// n complex bins in, n complex samples out; in is used as work space and overwritten.
void getIfft(float* in, float* out, float n);

// Makes the shared table for size n when it was made for another size, logging the generation.
void calculateTwiddles(int n);
// The radix of the last stage: 4 when n is a power of 4, else 2.
int getFtButterflySize(int n);
// Twiddles of the radix-4 stages: for stage stride j = 1, 4, 16, ... (j <= n/4) and i = 0, j, 2j, ...
// below n/4, six floats cos, sin of 2 pi i/n, 4 pi i/n and 6 pi i/n. At most 2n floats; none below 4.
void twiddle_gen(float* w, int n);

// Mixed radix-4 / radix-2 decimation-in-frequency transforms with natural-order output. x (n complex)
// is overwritten; w from twiddle_gen; brev the 6-bit reversal table; radix the last stage's radix
// (getFtButterflySize); callers pass offset 0 and nMax = n. The inverse includes the 1/n scaling.
void DSPF_sp_fftSPxSP_natural(int n, float* x, float* w, float* y, unsigned char* brev, int radix, int offset,
                              int nMax);
void DSPF_sp_ifftSPxSP_natural(int n, float* x, float* w, float* y, unsigned char* brev, int radix, int offset,
                               int nMax);
// Entry i holds i with its six bits reversed.
extern unsigned char brev[64];

// out[2k] = re[k], out[2k+1] = 0.
void real2Complex(unsigned n, float* re, float* out);
// b[k] = a[k] * b[k] for n complex elements.
void complexMultiply(unsigned n, float* a, float* b);

// 32-bit bit reversal.
unsigned bitr(unsigned x);
