#pragma once
#include <atomic>
#include <cstring>
#include <type_traits>

// Hands a set of coefficients from the compile thread to the audio thread whole. The writer fills
// the spare slot and publishes it with one atomic store; the reader copies the published slot at the
// start of a block. A set that must change together (a biquad's five coefficients) is thus never
// seen half old, half new, and nobody takes a lock. A set equal to the published one is not
// republished, so the compile pass that rewrites unchanged values every 10 ms never flips slots.
template <class T>
class DoubleBuffer {
    static_assert(std::is_trivially_copyable_v<T>, "plain coefficient sets only");

public:
    DoubleBuffer() = default;
    explicit DoubleBuffer(const T& initial) {
        slots_[0] = initial;
        slots_[1] = initial;
    }

    // Audio thread: the published set.
    const T& read() const { return slots_[index_.load(std::memory_order_acquire)]; }

    // Compile thread: the set last published.
    const T& current() const { return slots_[index_.load(std::memory_order_relaxed)]; }

    // Compile thread: publishes a whole new set.
    void publish(const T& next) {
        int active = index_.load(std::memory_order_relaxed);
        if (std::memcmp(&slots_[active], &next, sizeof(T)) == 0)
            return;
        slots_[1 - active] = next;
        index_.store(1 - active, std::memory_order_release);
    }

private:
    T slots_[2]{};
    std::atomic<int> index_{0};
};
