#pragma once
#include <atomic>
#include <cstring>
#include <type_traits>

// Hands a set of coefficients from the compile thread to the audio thread whole. A set that must
// change together (a biquad's five coefficients) is never seen half old, half new, and nobody takes
// a lock or waits. A set equal to the published one is not republished, so the compile pass that
// rewrites unchanged values every 10 ms hands nothing over.
//
// Three slots: the reader's, the writer's, and one in between that the two swap with one atomic
// exchange each. With only two, a writer publishing twice while the reader still copied the older
// slot (a frame delayed by the scheduler) would overwrite the set under the reader's copy.
template <class T>
class DoubleBuffer {
    static_assert(std::is_trivially_copyable_v<T>, "plain coefficient sets only");

public:
    DoubleBuffer() = default;
    explicit DoubleBuffer(const T& initial) : last_(initial)
    {
        for (T& slot : slots_) slot = initial;
    }

    // Audio thread (one reader): the newest published set. The reference stays valid until the
    // next read().
    const T& read() const
    {
        if (middle_.load(std::memory_order_relaxed) & kFresh)
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kSlotMask;
        return slots_[front_];
    }

    // Compile thread: the set last published.
    const T& current() const { return last_; }

    // Compile thread: publishes a whole new set.
    void publish(const T& next)
    {
        if (std::memcmp(&last_, &next, sizeof(T)) == 0) return;
        last_ = next;
        slots_[back_] = next;
        back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kSlotMask;
    }

private:
    static constexpr int kSlotMask = 3;
    static constexpr int kFresh = 4; // the middle slot holds a set the reader has not taken

    mutable T slots_[3]{};
    mutable std::atomic<int> middle_{1};
    mutable int front_ = 0; // the reader's slot
    int back_ = 2; // the writer's slot
    T last_{};
};
