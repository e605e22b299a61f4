// After creation a model must never allocate: Process and Prewarm run on the amp-model worker thread.
// This binary replaces the global operator new (and, outside the sanitizer build, malloc itself, which
// Eigen would use) and counts every allocation made while a counting window is open.
#include "NamTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void note()
{
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

void* operator new(std::size_t size)
{
    note();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, std::align_val_t align)
{
    note();
    size_t a = std::max(size_t(align), sizeof(void*));
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size, std::align_val_t align)
{
    return operator new(size, align);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// glibc lets a program supply malloc itself; forward to the C library's own implementation.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

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

using namespace namtest;

namespace {

// Runs the model over `input` in several block sizes (longer than the internal block too) and
// prewarms it in between, all inside the counting window; returns the allocations seen.
long allocationsWhilePlaying(NeuralAudio::NeuralModel& model, std::vector<float>& input, std::vector<float>& output)
{
    allocations = 0;
    counting = true;
    for (size_t block : {16, 1, 7, 100}) {
        for (size_t at = 0; at + block <= input.size(); at += block) model.Process(input.data() + at, output.data() + at, block);
        model.Prewarm();
    }
    counting = false;
    return allocations.load();
}

TEST(NamAllocation, CountingSeesAllocations)
{
    // The window itself must work, or the test below proves nothing.
    allocations = 0;
    counting = true;
    auto* p = new std::vector<float>(100);
    void* m = std::malloc(64);
    counting = false;
    delete p;
    std::free(m);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    EXPECT_GE(allocations.load(), 2);
#else
    EXPECT_GE(allocations.load(), 3);
#endif
}

TEST(NamAllocation, ProcessAndPrewarmAllocateNothing)
{
    std::vector<std::string> texts;
    for (const char* name : {"a_wavenet_small", "c_lstm_1x8", "d_lstm_2x8", "e_wavenet_feather", "e_wavenet_nano",
                             "e_wavenet_standard", "f_wavenet_relu_1array", "t_wavenet_tiny", "t_lstm_tiny"})
        texts.push_back(readText(vectorPath(std::string(name) + ".nam")));
    // The general code paths: gated, odd channel counts, an LSTM size without fixed-size code.
    texts.push_back(waveNetJson({{1, 5, 3, 3, {1, 2, 4}, "Tanh", true, false}, {5, 3, 1, 2, {1, 8}, "ReLU", false, true}}, 3));
    texts.push_back(waveNetJson({{1, 24, 1, 3, {1, 2, 4, 8}, "Sigmoid", false, true}}, 4));
    texts.push_back(lstmJson(3, 5, 5));
    texts.push_back(lstmJson(1, 48, 6));
    // The largest sizes the loader accepts: Eigen must still find its scratch space on the stack.
    texts.push_back(waveNetJson({{1, 64, 1, 16, {1, 2}, "Tanh", true, true}}, 8));
    texts.push_back(lstmJson(2, 128, 9));

    std::vector<float> input = testSignal(400), output(input.size());
    for (const std::string& text : texts) {
        auto model = create(text);
        EXPECT_EQ(allocationsWhilePlaying(*model, input, output), 0) << text.substr(0, 200);
    }
}

} // namespace
