#pragma once
#include <algorithm>
#include <cstddef>
#include <new>
#include <type_traits>

// A fixed-size array on the heap whose start is aligned to Align bytes (never less than the element
// type's own alignment). The vector kernels load taps and history in 16-byte steps, so the alignment
// is requested from the allocator explicitly rather than hoped for. Sized once at construction;
// elements start as zero.
template <class T, std::size_t Align = 16>
class AlignedArray {
    static_assert(std::is_trivially_copyable_v<T>, "plain numeric data only");
    static constexpr std::size_t kAlign = Align > alignof(T) ? Align : alignof(T);
    static_assert((kAlign & (kAlign - 1)) == 0, "alignment must be a power of two");

public:
    explicit AlignedArray(std::size_t count) : size_(count)
    {
        if (count > 0) {
            data_ = static_cast<T*>(::operator new (count * sizeof(T), std::align_val_t{kAlign}));
            std::fill_n(data_, count, T{});
        }
    }
    ~AlignedArray()
    {
        if (data_) ::operator delete (data_, std::align_val_t{kAlign});
    }
    AlignedArray(const AlignedArray&) = delete;
    AlignedArray& operator=(const AlignedArray&) = delete;

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    static constexpr std::size_t alignment() { return kAlign; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};
