#pragma once
#include <atomic>
#include <cstring>
#include <type_traits>

// Hands a set of coefficients from the compile thread to the audio thread whole. The writer fills
// the spare slot and publishes it with one atomic store; the reader copies the published slot at the
// start of a block. A set that must change together (a biquad's five coefficients) is thus never
// seen half old, half new, and nobody takes a lock. A set equal to the published one is not
// republished, so the compile pass that rewrites unchanged values every 10 ms never flips slots.
//
// Should the reader be held up while it copies, for as long as the writer publishes twice (the
// second publish rewrites the slot being copied), it notices and copies again: the writer marks a
// slot as being rewritten before it touches it.
template <class T>
class DoubleBuffer {
    static_assert(std::is_trivially_copyable_v<T>, "plain coefficient sets only");

public:
    DoubleBuffer() = default;
    explicit DoubleBuffer(const T& initial) {
        slots_[0] = initial;
        slots_[1] = initial;
    }

    // Audio thread: a copy of the published set.
    T read() const {
        for (;;) {
            const unsigned published = count_.load(std::memory_order_acquire);
            T copy;
            std::memcpy(&copy, &slots_[published & 1], sizeof(T));
            std::atomic_thread_fence(std::memory_order_acquire);
            // The next rewrite of this slot is publish number published + 2.
            if (started_.load(std::memory_order_relaxed) - published < 2)
                return copy;
        }
    }

    // Compile thread: the set last published.
    const T& current() const { return slots_[count_.load(std::memory_order_relaxed) & 1]; }

    // Compile thread: publishes a whole new set.
    void publish(const T& next) {
        const unsigned published = count_.load(std::memory_order_relaxed);
        if (std::memcmp(&slots_[published & 1], &next, sizeof(T)) == 0)
            return;
        started_.store(published + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        std::memcpy(&slots_[(published + 1) & 1], &next, sizeof(T));
        count_.store(published + 1, std::memory_order_release);
    }

private:
    T slots_[2]{};
    std::atomic<unsigned> count_{0};   // publishes so far; the published slot is count_ & 1
    std::atomic<unsigned> started_{0}; // publishes begun
};
