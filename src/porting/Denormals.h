#pragma once
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

// Flushes denormal floats to zero on the calling thread. The audio and amp-model threads call it once
// at start: a decaying filter or reverb tail would otherwise fall into denormals and cost many times
// the normal time per sample.
inline void flush_denormals()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_setcsr(_mm_getcsr() | 0x8040); // FTZ and DAZ
#elif defined(__aarch64__)
    uint64_t fpcr;
    asm volatile("mrs %0, fpcr" : "=r"(fpcr));
    asm volatile("msr fpcr, %0" : : "r"(fpcr | (1ull << 24))); // FZ
#endif
}
