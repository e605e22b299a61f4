#pragma once
#include "dsp/AlignedArray.h"
#include "dsp/FrameKernels.h"

// Thin per-frame filters over the frame kernels: each keeps its coefficients (public, set by the
// owner) apart from its state, and its exec filters one 16-sample frame from in to out (which may be
// the same array). They have no hand-over of their own: the owner changes coefficients between
// frames on the thread that runs them (a set half written from another thread can make a recursive
// section blow up). Sizes are fixed at construction; exec allocates nothing.

// Transposed direct form II: b = b0, b1, b2; a[1], a[2] = a1, a2 (a[0] unused, a0 is 1).
struct BiquadObjExec {
    float b[3] = {1.0f, 0.0f, 0.0f};
    float a[3] = {1.0f, 0.0f, 0.0f};
    float state[2] = {};
};
inline void BiquadObjExec_exec(BiquadObjExec* f, const float* in, float* out)
{
    ZQ_biquad_SFRAME(in, f->b, f->a, f->state, out);
}

// Fourth order in direct form I: c = b0 .. b4, a1 .. a4. The frame is copied behind the four inputs
// before it, so that the section reads its past inputs in one array and out may be in.
struct IIR4Obj {
    static constexpr int kPast = 4;
    float c[9] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    float state[4] = {}; // the last four outputs, newest first
    float history[kPast + kZqFrame] = {};
};
inline void IIR4Obj_exec(IIR4Obj* f, const float* in, float* out)
{
    ZQ_blk_move_SFRAME(in, f->history + IIR4Obj::kPast);
    ZQ_iir4(f->history + IIR4Obj::kPast, f->c, out, f->state);
    ZQ_blk_move_SFRAME_UNROLLED(f->history + kZqFrame, f->history, IIR4Obj::kPast);
}

// Direct FIR over a circular history: taps hold the response time-reversed (taps[tapCount - 1]
// multiplies the newest sample). The ring is the smallest power of two that holds tapCount - 1 past
// samples and a frame; frames are written at multiples of 16, so a frame never wraps. A new filter
// is silent until taps are set. Constructed off the audio thread.
struct FIRExecObj {
    explicit FIRExecObj(int taps)
        : tapCount(taps < 1 ? 1 : taps), sizeBits(ringBits(tapCount)), taps(static_cast<std::size_t>(tapCount)),
          ring(std::size_t{1} << (sizeBits - 1))
    {}

    const int tapCount;
    const int sizeBits; // the ring holds 2^(sizeBits - 1) samples
    AlignedArray<float> taps;
    AlignedArray<float> ring;
    int write = 0; // where the next frame goes

private:
    static int ringBits(int tapCount)
    {
        int bits = 1;
        while ((1 << (bits - 1)) < tapCount - 1 + kZqFrame) ++bits;
        return bits;
    }
};
inline void FIRExecObj_exec(FIRExecObj* f, const float* in, float* out)
{
    const int mask = static_cast<int>(f->ring.size()) - 1;
    ZQ_blk_move_SFRAME(in, f->ring.data() + f->write);
    // Output 0 belongs to the first new sample: its window ends there.
    const int position = (f->write - f->tapCount + 1) & mask;
    ZQ_fircirc_SFRAME_UNROLLED(f->ring.data(), f->taps.data(), out, position, f->sizeBits, f->tapCount, kZqFrame);
    f->write = (f->write + kZqFrame) & mask;
}

// One pole: y[i] = b0 x[i] - a1 y[i - 1].
struct SinglePoleIIRObj {
    float b0 = 1.0f;
    float a1 = 0.0f;
    float state = 0.0f; // the last output
};
inline void SinglePoleIIRObj_exec(SinglePoleIIRObj* f, const float* in, float* out)
{
    float y = f->state;
    for (int i = 0; i < kZqFrame; ++i) out[i] = y = f->b0 * in[i] - f->a1 * y;
    f->state = y;
}
