// Cost of one 16-sample frame through the DSP building blocks, the FIR kernel against a plain
// scalar convolution of the same taps (the FIR must stay several times faster), the portable
// and NEON paths of the kernels, and the frame kernels and per-frame filters.
#include "BenchMain.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "dsp/FrameFilters.h"
#include "dsp/FrameKernels.h"
#include "dsp/QuadBiquad.h"
#include "dsp/QuadComp.h"
#include "dsp/QuadFIR.h"

namespace {

constexpr int kFrame = 16;
constexpr int kTaps = 2048;

std::vector<float> noise(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}

void BM_BiquadSection(benchmark::State& st)
{
    QuadBiquad bq;
    bq.set_peaking(1000, 0.7f, 6);
    auto in = noise(kFrame, 1);
    float out[kFrame];
    for (auto _ : st) {
        bq.exec(in.data(), out, kFrame);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}
KESTRUN_BENCHMARK(BM_BiquadSection);

void BM_Compressor(benchmark::State& st)
{
    QuadComp comp;
    comp.load(-30, 4, 5, 100, 6, 6);
    auto in = noise(kFrame, 2);
    float out[kFrame];
    for (auto _ : st) {
        comp.exec(in.data(), out, kFrame, 1.0f);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}
KESTRUN_BENCHMARK(BM_Compressor);

void BM_Fir2048(benchmark::State& st)
{
    QuadFIR fir(kTaps);
    auto ir = noise(kTaps, 3);
    fir.load(ir.data());
    auto in = noise(kFrame, 4);
    float out[kFrame];
    for (auto _ : st) {
        fir.exec(in.data(), out, kFrame);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}
KESTRUN_BENCHMARK(BM_Fir2048);

// The textbook convolution: one output at a time, summing every tap over a linear history.
struct ScalarConvolution {
    std::vector<float> ir;
    std::vector<float> hist; // kTaps - 1 past samples, then the new frame
    explicit ScalarConvolution(const std::vector<float>& taps) : ir(taps), hist(taps.size() - 1 + kFrame) {}
    void exec(const float* in, float* out)
    {
        const std::size_t past = ir.size() - 1;
        for (int i = 0; i < kFrame; ++i) hist[past + i] = in[i];
        for (int i = 0; i < kFrame; ++i) {
            float acc = 0.0f;
            for (std::size_t j = 0; j < ir.size(); ++j) acc += ir[j] * hist[past + i - j];
            out[i] = acc;
        }
        for (std::size_t k = 0; k < past; ++k) hist[k] = hist[k + kFrame];
    }
};

void BM_ScalarConvolution2048(benchmark::State& st)
{
    ScalarConvolution conv(noise(kTaps, 3));
    auto in = noise(kFrame, 4);
    float out[kFrame];
    for (auto _ : st) {
        conv.exec(in.data(), out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}
KESTRUN_BENCHMARK(BM_ScalarConvolution2048);

// Both kernels on the same taps and input, interleaved in one loop so that they see the same machine
// load: counters give ns per frame of each and the speed-up of the FIR.
void BM_FirVsScalar2048(benchmark::State& st)
{
    auto ir = noise(kTaps, 3);
    QuadFIR fir(kTaps);
    fir.load(ir.data());
    ScalarConvolution conv(ir);
    auto in = noise(kFrame, 4);
    float out[kFrame];
    using clock = std::chrono::steady_clock;
    clock::duration firTime{}, scalarTime{};
    for (auto _ : st) {
        auto t0 = clock::now();
        fir.exec(in.data(), out, kFrame);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        auto t1 = clock::now();
        conv.exec(in.data(), out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        auto t2 = clock::now();
        firTime += t1 - t0;
        scalarTime += t2 - t1;
    }
    double n = static_cast<double>(st.iterations());
    double firNs = std::chrono::duration<double, std::nano>(firTime).count() / n;
    double scalarNs = std::chrono::duration<double, std::nano>(scalarTime).count() / n;
    st.counters["fir_ns"] = firNs;
    st.counters["scalar_ns"] = scalarNs;
    st.counters["speedup"] = scalarNs / firNs;
}
KESTRUN_BENCHMARK(BM_FirVsScalar2048);

// Each kernel's portable path (the reference, and the path of the x86 build) and, on aarch64, its
// NEON path, one frame per iteration. Under qemu-user the aarch64 figures say nothing about the
// unit: emulated instructions do not cost there what they cost on its Cortex-A72 cores, so only a
// run on the unit compares the two paths.
template <class Kernel>
void frames(benchmark::State& st, Kernel&& kernel)
{
    auto in = noise(kFrame, 5);
    float out[kFrame];
    for (auto _ : st) {
        kernel(in.data(), out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}

template <bool neon>
void BM_FirBlock2048(benchmark::State& st)
{
    auto taps = noise(kTaps, 3), history = noise(kTaps + kFrame, 4);
    frames(st, [&](const float*, float* out) {
#if defined(__ARM_NEON)
        if (neon) return QuadFIR::block16Neon(taps.data(), history.data(), out, kTaps);
#endif
        QuadFIR::block16Portable(taps.data(), history.data(), out, kTaps);
    });
}

template <bool neon>
void BM_BiquadPath(benchmark::State& st)
{
    QuadBiquad bq;
    bq.set_peaking(1000, 0.7f, 6);
    frames(st, [&](const float* in, float* out) {
#if defined(__ARM_NEON)
        if (neon) return bq.execNeon(in, out, kFrame);
#endif
        bq.execPortable(in, out, kFrame);
    });
}

template <bool neon>
void BM_CompressorPath(benchmark::State& st)
{
    QuadComp comp;
    comp.load(-30, 4, 5, 100, 6, 6);
    frames(st, [&](const float* in, float* out) {
#if defined(__ARM_NEON)
        if (neon) return comp.execNeon(in, out, kFrame, 1.0f);
#endif
        comp.execPortable(in, out, kFrame, 1.0f);
    });
}

KESTRUN_BENCHMARK(BM_FirBlock2048<false>)->Name("FirBlock2048/portable");
KESTRUN_BENCHMARK(BM_BiquadPath<false>)->Name("Biquad/portable");
KESTRUN_BENCHMARK(BM_CompressorPath<false>)->Name("Compressor/portable");
#if defined(__ARM_NEON)
KESTRUN_BENCHMARK(BM_FirBlock2048<true>)->Name("FirBlock2048/neon");
KESTRUN_BENCHMARK(BM_BiquadPath<true>)->Name("Biquad/neon");
KESTRUN_BENCHMARK(BM_CompressorPath<true>)->Name("Compressor/neon");
#endif

// The frame kernels: a 16-sample frame unless the name gives a count, portable and NEON form. The
// body sees the inputs a and b (2048 floats each), the output o and P, the form's namespace.
template <class Kernel>
void kernelLoop(benchmark::State& st, Kernel&& kernel)
{
    auto a = noise(2048, 6), b = noise(2048, 7);
    std::vector<float> o(2048 + kFrame);
    for (auto _ : st) {
        kernel(a.data(), b.data(), o.data());
        benchmark::DoNotOptimize(o.data());
        benchmark::ClobberMemory();
    }
}
#define KERNEL_FORM(name, form, body)                                                                                  \
    void BM_##name##_##form(benchmark::State& st)                                                                      \
    {                                                                                                                  \
        namespace P = zq_##form;                                                                                       \
        kernelLoop(st, [](const float* a, const float* b, float* o) { (void)a, (void)b, body; });                      \
    }                                                                                                                  \
    KESTRUN_BENCHMARK(BM_##name##_##form)->Name(#name "/" #form);
#if defined(__ARM_NEON)
#define KERNEL_BENCH(name, body) KERNEL_FORM(name, portable, body) KERNEL_FORM(name, neon, body)
#else
#define KERNEL_BENCH(name, body) KERNEL_FORM(name, portable, body)
#endif

KERNEL_BENCH(VecMul, P::mul(a, b, o, kFrame))
KERNEL_BENCH(WVec, P::weighted(a, b, 0.7f, o, kFrame))
KERNEL_BENCH(VecRecip, P::recip(a, o, kFrame))
KERNEL_BENCH(SumSquare, o[0] = P::dot(a, a, kFrame))
KERNEL_BENCH(Peak, o[0] = P::maxAbs(a, kFrame))
KERNEL_BENCH(Dotprod2048, o[0] = P::dot(a, b, 2048))
// 16 outputs of a 64-tap FIR from a 128-sample ring, the window crossing the wrap.
KERNEL_BENCH(FirCirc64, P::fircirc(a, b, o, 100, 127, 64, kFrame))
// 16 outputs of a 32-tap adaptive filter; its weights live in o after the outputs.
KERNEL_BENCH(Lms32, P::lms(a, o + kFrame, b, o, 1e-3f, 0.0f, 32, kFrame))

// The per-frame filters, one form on both targets (the FIR runs the kernel of its target).
template <class Filter, class Exec>
void filterLoop(benchmark::State& st, Filter& f, Exec exec)
{
    frames(st, [&](const float* in, float* out) { exec(&f, in, out); });
}
void BM_BiquadObj(benchmark::State& st)
{
    BiquadObjExec f;
    f.b[0] = 0.3f;
    f.a[1] = -0.5f;
    filterLoop(st, f, BiquadObjExec_exec);
}
void BM_IIR4Obj(benchmark::State& st)
{
    IIR4Obj f;
    f.c[5] = -0.5f;
    filterLoop(st, f, IIR4Obj_exec);
}
void BM_FIRExecObj64(benchmark::State& st)
{
    FIRExecObj f(64);
    auto taps = noise(64, 8);
    std::copy(taps.begin(), taps.end(), f.taps.data());
    filterLoop(st, f, FIRExecObj_exec);
}
void BM_SinglePoleIIRObj(benchmark::State& st)
{
    SinglePoleIIRObj f;
    f.a1 = -0.9f;
    filterLoop(st, f, SinglePoleIIRObj_exec);
}
KESTRUN_BENCHMARK(BM_BiquadObj);
KESTRUN_BENCHMARK(BM_IIR4Obj);
KESTRUN_BENCHMARK(BM_FIRExecObj64);
KESTRUN_BENCHMARK(BM_SinglePoleIIRObj);

} // namespace

KESTRUN_BENCHMARK_MAIN()
