#include "dsp/SimpleDelay.h"

namespace {
int ringSize(int length)
{
    int size = 1;
    while (size < length && size < (1 << 30)) size <<= 1;
    return size;
}
} // namespace

SimpleDelay::SimpleDelay(int length)
    : size(ringSize(length)), mask(ringSize(length) - 1), buffer(static_cast<std::size_t>(ringSize(length)))
{}

void SimpleDelay::setDelay(int samples)
{
    if (samples > mask) samples = mask;
    if (samples < 0) samples = 0;
    float xf = xfade.load(std::memory_order_relaxed);
    if (xf > 0.95f) {
        // Tap B is heard: A is silent and may move.
        delayA.store(samples, std::memory_order_relaxed);
        if (delayB.load(std::memory_order_relaxed) != samples) xfadeTarget.store(0.0f, std::memory_order_relaxed);
    }
    if (xf < 0.050000012f) {
        delayB.store(samples, std::memory_order_relaxed);
        if (delayA.load(std::memory_order_relaxed) != samples) xfadeTarget.store(1.0f, std::memory_order_relaxed);
    }
}
