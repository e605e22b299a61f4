// A program of known instruction counts for the counting plugin's test (check_counts.py): loops of
// ten instructions (four SIMD/FP data processing, two SIMD/FP loads and stores, four others) between
// the engine's marks, and a second thread with a loop of its own that marks a frame in each round.
//
//   count_probe N: thread 0 runs N loops in the road, 2N in block 1, N in the road again, 3N in
//   block 2; thread 1 runs 5N, each a frame.
#include "porting/CountMark.h"

#include <cstdlib>
#include <thread>

namespace {

#define KESTRUN_PROBE_LOOP                                                                                             \
    "ldr q0, [%1]\n"                                                                                                   \
    "fadd v0.4s, v0.4s, v0.4s\n"                                                                                       \
    "fmul v1.4s, v0.4s, v0.4s\n"                                                                                       \
    "fmla v1.4s, v0.4s, v0.4s\n"                                                                                       \
    "fmov s2, #1.0\n"                                                                                                  \
    "str q1, [%1]\n"                                                                                                   \
    "add x9, x9, #1\n"                                                                                                 \
    "eor x10, x10, x9\n"                                                                                               \
    "subs %0, %0, #1\n"                                                                                                \
    "b.ne 1b\n"

// framed: each round starts with the frame mark, which is not counted.
void loops(long count, bool framed = false)
{
    alignas(16) float data[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    if (framed)
        asm volatile("1:\nhint #0x70\n" KESTRUN_PROBE_LOOP
                     : "+r"(count)
                     : "r"(data)
                     : "v0", "v1", "v2", "x9", "x10", "cc", "memory");
    else
        asm volatile("1:\n" KESTRUN_PROBE_LOOP
                     : "+r"(count)
                     : "r"(data)
                     : "v0", "v1", "v2", "x9", "x10", "cc", "memory");
}

} // namespace

int main(int argc, char** argv)
{
    const long n = argc > 1 ? std::atol(argv[1]) : 0;
    if (n < 1) return 2;
    std::thread other([n] { loops(5 * n, true); });
    other.join(); // before the marks: the other thread's count must not depend on the timing
    count_mark_frame();
    loops(n);
    count_mark_block();
    loops(2 * n);
    count_mark_road();
    loops(n);
    count_mark_block();
    loops(3 * n);
    count_mark_road();
    return 0;
}
