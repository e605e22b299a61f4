#pragma once
#include <atomic>
#include <memory>
#include <utility>

// A value that several threads read and write without a lock (node texts, style entries): each
// write publishes a fresh immutable copy, and a reader keeps the copy it loaded alive for as long as
// it holds it, so it never sees a torn or released text. Not for the audio thread (it allocates).
template <class T>
class SharedSnapshot {
public:
    explicit SharedSnapshot(T value = T()) : current(std::make_shared<const T>(std::move(value))) {}
    SharedSnapshot(const SharedSnapshot&) = delete;
    SharedSnapshot& operator=(const SharedSnapshot&) = delete;

    std::shared_ptr<const T> snapshot() const { return current.load(std::memory_order_acquire); }
    T get() const { return *snapshot(); }
    void set(T value) { current.store(std::make_shared<const T>(std::move(value)), std::memory_order_release); }

    // Read-modify-write that loses no concurrent update: `change(T&)` edits a copy and returns true
    // when it changed anything; the copy is published only if nobody else published in between,
    // otherwise the change is retried on the newer value. Returns what the last `change` returned.
    template <class F>
    bool update(F change)
    {
        std::shared_ptr<const T> seen = snapshot();
        for (;;) {
            auto next = std::make_shared<T>(*seen);
            if (!change(*next)) return false;
            std::shared_ptr<const T> published = std::move(next);
            if (current.compare_exchange_weak(seen, published, std::memory_order_acq_rel)) return true;
        }
    }

private:
    std::atomic<std::shared_ptr<const T>> current;
};
