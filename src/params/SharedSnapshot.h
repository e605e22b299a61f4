#pragma once
#include <atomic>
#include <memory>
#include <thread>
#include <utility>

// A value that several threads read and write (node texts, style entries): each write publishes a
// fresh immutable copy, and a reader keeps the copy it loaded alive for as long as it holds it, so it
// never sees a torn or released text. Not for the audio thread (writes allocate).
//
// The pointer itself is swapped under a tiny spin guard held only while a shared_ptr is copied or
// swapped (no allocation, no callback, no release of a value inside it). The standard library's
// atomic<shared_ptr> of our toolchain unlocks its load with relaxed ordering, which lets a reader on
// the unit's weakly ordered cores race with a writer, so we keep our own guard with acquire/release.
template <class T>
class SharedSnapshot {
public:
    explicit SharedSnapshot(T value = T()) : current(std::make_shared<const T>(std::move(value))) {}
    SharedSnapshot(const SharedSnapshot&) = delete;
    SharedSnapshot& operator=(const SharedSnapshot&) = delete;

    std::shared_ptr<const T> snapshot() const
    {
        lock();
        std::shared_ptr<const T> copy = current;
        unlock();
        return copy;
    }

    T get() const { return *snapshot(); }

    void set(T value)
    {
        std::shared_ptr<const T> next = std::make_shared<const T>(std::move(value));
        lock();
        current.swap(next);
        unlock();
        // The previous value is released here, outside the guard (or later by its last reader).
    }

    // Read-modify-write that loses no concurrent update: `change(T&)` edits a copy and returns true
    // when it changed anything; the copy is published only if nobody else published in between,
    // otherwise the change is retried on the newer value. Returns what the last `change` returned.
    template <class F>
    bool update(F change)
    {
        for (;;) {
            std::shared_ptr<const T> seen = snapshot();
            auto edited = std::make_shared<T>(*seen);
            if (!change(*edited)) return false;
            std::shared_ptr<const T> next = std::move(edited);
            lock();
            bool unchanged = current == seen;
            if (unchanged) current.swap(next);
            unlock();
            if (unchanged) return true;
        }
    }

private:
    mutable std::atomic<bool> busy{false};
    std::shared_ptr<const T> current;

    void lock() const
    {
        while (busy.exchange(true, std::memory_order_acquire)) {
            // The holder may be a thread of the same CPU: let it finish.
            while (busy.load(std::memory_order_relaxed)) std::this_thread::yield();
        }
    }

    void unlock() const { busy.store(false, std::memory_order_release); }
};
