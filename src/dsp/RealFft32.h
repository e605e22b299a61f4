#pragma once

// Real transforms of 32 samples for the partitioned convolution of the FIR filter, on the audio
// thread (no allocation; the twiddles are a read-only table). A spectrum takes kSpectrum floats: the real parts of bins
// 0..15, their imaginary parts (that of bin 0 is zero for a real signal), the real bin 16 and three
// zeros, so that every array of spectra keeps 16-byte alignment.
//
// Scaling is left to the caller, to save the multiplications: forward gives twice the DFT,
// X[k] = 2 sum x[m] e^(-2 pi i k m / 32); inverseUpperHalf gives samples 16..31 of 32 times the
// normalised inverse DFT. The product of two forward spectra divided by 128 therefore comes back as
// the circular convolution itself.
//
// Portable forms (plain loops, the reference) and, on aarch64, NEON forms that keep the 16-point
// transform in registers; forward and inverseUpperHalf pick the target's.
class RealFft32 {
public:
    static constexpr int kSize = 32;
    static constexpr int kBins = 16; // complex bins in the vectors (bin 16 apart)
    static constexpr int kNyquist = 32; // index of bin 16's real part
    static constexpr int kSpectrum = 36; // floats per spectrum

    // x: 32 samples; s: kSpectrum floats.
    static void forward(const float* x, float* s)
    {
#if defined(__ARM_NEON)
        forwardNeon(x, s);
#else
        forwardPortable(x, s);
#endif
    }
    // s: a spectrum (left as it is); y: samples 16..31 of its inverse.
    static void inverseUpperHalf(const float* s, float* y)
    {
#if defined(__ARM_NEON)
        inverseUpperHalfNeon(s, y);
#else
        inverseUpperHalfPortable(s, y);
#endif
    }

    static void forwardPortable(const float* x, float* s);
    static void inverseUpperHalfPortable(const float* s, float* y);
#if defined(__ARM_NEON)
    static void forwardNeon(const float* x, float* s);
    static void inverseUpperHalfNeon(const float* s, float* y);
#endif
};
