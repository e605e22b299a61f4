#pragma once
// Shared by the benchmark programs: the audio thread's floating-point settings, and a fixed-length
// mode for the instruction counter (scripts/count_device.py).
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "porting/Denormals.h"

namespace bench {

// KESTRUN_BENCH_ITERATIONS=N: every benchmark runs exactly N iterations, once, instead of as many as
// its timing needs. Two runs of different lengths then differ by the iterations alone: loading,
// set-up and warm-up drop out of the difference.
inline long long fixedIterations()
{
    const char* text = std::getenv("KESTRUN_BENCH_ITERATIONS");
    return text ? std::strtoll(text, nullptr, 10) : 0;
}

inline void countable(benchmark::internal::Benchmark* b)
{
    if (fixedIterations() > 0) b->Iterations(fixedIterations());
}

// The benchmarks run on this thread, and on the threads it starts, with denormals flushed as on the
// audio and amp-model threads: a decaying tail would otherwise be timed in denormal arithmetic.
// Programs with a main of their own call flush_denormals() first and then this.
inline int run(int argc, char** argv)
{
    flush_denormals();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench

#define KESTRUN_BENCHMARK(...) BENCHMARK(__VA_ARGS__)->Apply(bench::countable)
#define KESTRUN_BENCHMARK_CAPTURE(...) BENCHMARK_CAPTURE(__VA_ARGS__)->Apply(bench::countable)
#define KESTRUN_BENCHMARK_MAIN()                                                                                       \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        return bench::run(argc, argv);                                                                                 \
    }
