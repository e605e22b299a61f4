#include "dsp/SchroederAllPass.h"

namespace {
int ringSize(int length)
{
    int size = 1;
    while (size < length && size < (1 << 30)) size <<= 1;
    return size;
}
} // namespace

SchroederAllPass::SchroederAllPass(int length)
    : size(ringSize(length)), mask(ringSize(length) - 1), ring(static_cast<std::size_t>(ringSize(length))),
      scratch(kMaxBlock), delay(static_cast<unsigned>(ringSize(length)))
{}
