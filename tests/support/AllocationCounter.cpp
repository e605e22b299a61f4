#include "AllocationCounter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define KESTRUN_COUNT_MALLOC 1
// glibc lets a program define malloc itself; the replacements below forward to these.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}
#endif

namespace {
std::atomic<bool> armed{false};
std::atomic<long> allocations{0};

void note()
{
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}

// The allocator underneath, which counts nothing itself (each entry point counts once).
void* raw(std::size_t size, std::size_t align)
{
    if (size == 0) size = 1;
    if (align < alignof(std::max_align_t)) align = alignof(std::max_align_t);
#ifdef KESTRUN_COUNT_MALLOC
    return __libc_memalign(align, size);
#else
    return std::aligned_alloc(align, (size + align - 1) / align * align);
#endif
}

void* allocateOrThrow(std::size_t size, std::size_t align)
{
    note();
    if (void* p = raw(size, align)) return p;
    throw std::bad_alloc();
}

void* allocate(std::size_t size, std::size_t align) noexcept
{
    note();
    return raw(size, align);
}
} // namespace

namespace alloccount {
void open()
{
    allocations.store(0);
    armed.store(true);
}
long close()
{
    armed.store(false);
    return allocations.load();
}
} // namespace alloccount

void* operator new(std::size_t size)
{
    return allocateOrThrow(size, 0);
}
void* operator new[](std::size_t size)
{
    return allocateOrThrow(size, 0);
}
void* operator new(std::size_t size, std::align_val_t align)
{
    return allocateOrThrow(size, std::size_t(align));
}
void* operator new[](std::size_t size, std::align_val_t align)
{
    return allocateOrThrow(size, std::size_t(align));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return allocate(size, std::size_t(align));
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return allocate(size, std::size_t(align));
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}

#ifdef KESTRUN_COUNT_MALLOC
extern "C" {
void* malloc(size_t size)
{
    note();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    note();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size)
{
    note();
    return __libc_realloc(p, size);
}
void* aligned_alloc(size_t align, size_t size)
{
    note();
    return __libc_memalign(align, size);
}
void* memalign(size_t align, size_t size)
{
    note();
    return __libc_memalign(align, size);
}
int posix_memalign(void** out, size_t align, size_t size)
{
    note();
    void* p = __libc_memalign(align, size);
    if (!p) return 12; // ENOMEM
    *out = p;
    return 0;
}
void free(void* p)
{
    __libc_free(p);
}
}
#endif
