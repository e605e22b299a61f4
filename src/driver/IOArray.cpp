#include "driver/IOArray.h"

#include "platform/SpiBus.h"
#include "porting/Log.h"
#include "porting/Task.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

const char* const IOArray::kTag = "IO Array";

int IOArray::block_size = 0;
int IOArray::max_io = 0;
int IOArray::scan_freq = 0;
int IOArray::freq = 0;
int IOArray::queue_size = 0;
int IOArray::start = 0;
int IOArray::end = 0;
uint8_t* IOArray::input_buffer = nullptr;
uint8_t* IOArray::output_buffer = nullptr;
spi_ioc_transfer* IOArray::buffer = nullptr;
std::atomic<bool>* IOArray::failed = nullptr;
std::atomic<uint8_t>* IOArray::input_status = nullptr;
std::atomic<uint8_t>* IOArray::output_status = nullptr;
std::atomic<int>* IOArray::pwm_status = nullptr;
std::atomic<int> IOArray::pwm_depth{256};
int IOArray::pwm_counter = 0;
moodycamel::ConcurrentQueue<spi_ioc_transfer*>& IOArray::txQueue =
    *new moodycamel::ConcurrentQueue<spi_ioc_transfer*>(1024);
moodycamel::ConcurrentQueue<spi_ioc_transfer*>& IOArray::rxQueue =
    *new moodycamel::ConcurrentQueue<spi_ioc_transfer*>(1024);
int IOArray::spi_fd = -1;
std::atomic<bool> IOArray::initialized{false};
bool IOArray::running = false;
uint64_t IOArray::dryPasses = 0;
LogOnce IOArray::dryLog{IOArray::kTag};

namespace {

constexpr const char* kSpiDevice = "/dev/spidev0.0";
constexpr int kDefaultPwmDepth = 256;
// Clock idle high, data sampled on the first edge: what the shift registers expect.
constexpr uint8_t kSpiMode = SPI_MODE_2;
constexpr int kThreadPriority = 40; // SCHED_FIFO: the chain must be clocked without gaps
constexpr uint32_t kIdleDelayUs = 10000;

bool powerOfTwo(int d)
{
    return d > 0 && (d & (d - 1)) == 0;
}

int clampToInt(int64_t value)
{
    return int(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

} // namespace

void IOArray::initialize(int n_io, int scan_freq, int queue_ms, int pwm_depth, int, int, int, int)
{
    if (initialized.load()) {
        LOG_W(kTag, "already initialized\n");
        return;
    }
    if (n_io < 1 || scan_freq < 1 || queue_ms < 0) {
        // Sizes the ring and the frame from these: nothing sensible can be built from them.
        LOG_E(kTag, "Invalid configuration %d %d %d\n", n_io, scan_freq, queue_ms);
        return;
    }
    block_size = (n_io + 7) / 8;
    max_io = 8 * block_size;
    IOArray::scan_freq = scan_freq;
    freq = clampToInt(int64_t(max_io) * scan_freq);
    int64_t product = int64_t(scan_freq) * queue_ms;
    queue_size = product < 2000 ? 2 : clampToInt(product / 1000);
    start = 0;
    end = 0;
    IOArray::pwm_depth.store(kDefaultPwmDepth);
    pwm_counter = 0;

    size_t ring = size_t(queue_size) * size_t(block_size);
    input_buffer = new uint8_t[ring]();
    output_buffer = new uint8_t[ring]();
    buffer = new spi_ioc_transfer[size_t(queue_size)]();
    failed = new std::atomic<bool>[size_t(queue_size)]();
    input_status = new std::atomic<uint8_t>[size_t(block_size)]();
    output_status = new std::atomic<uint8_t>[size_t(block_size)]();
    pwm_status = new std::atomic<int>[size_t(max_io)];
    for (int j = 0; j < max_io; ++j) pwm_status[j].store(-1);

    xTaskCreatePinnedToCore(ioctl_tasks, "IO Array SPI", 4096, nullptr, kThreadPriority, nullptr, 0);

    if (powerOfTwo(pwm_depth)) IOArray::pwm_depth.store(pwm_depth);
    else LOG_W(kTag, "pwm depth must be a power of 2\n");

    LOG_I(kTag, "Initialized freq = %d, max_io = %d, queue = %d\n", freq, max_io, queue_size);
    initialized.store(true, std::memory_order_release);
}

int IOArray::slotOf(const spi_ioc_transfer* descriptor)
{
    return int(descriptor - buffer);
}

void* IOArray::ioctl_tasks(void*)
{
    spi_fd = SpiBus::open(kSpiDevice);
    if (spi_fd < 0) LOG_E(kTag, "Open SPI error\n");
    uint8_t mode = kSpiMode;
    if (SpiBus::writeMode(spi_fd, mode) < 0) {
        int error = errno;
        LOG_E(kTag, "SPI mode set error %s - %d %d\n", strerror(error), error, spi_fd);
    }
    if (SpiBus::readMode(spi_fd, &mode) < 0) {
        int error = errno;
        LOG_E(kTag, "SPI mode read set error %s - %d %d\n", strerror(error), error, spi_fd);
    }

    // A frame that cannot be sent still takes its time, so the ring keeps the scan pace and a dead
    // bus neither spins this thread nor floods the log: one line per run of failures.
    uint32_t frameUs = freq > 0 ? uint32_t(int64_t(block_size) * 8 * 1000000 / freq) : 0;
    bool failing = false;
    for (;;) {
        spi_ioc_transfer* descriptor = nullptr;
        if (!txQueue.try_dequeue(descriptor)) {
            vTaskDelay(kIdleDelayUs);
            continue;
        }
        int slot = slotOf(descriptor);
        if (SpiBus::transfer(spi_fd, descriptor) <= 0) {
            if (!failing) LOG_E(kTag, "Transmission error\n");
            failing = true;
            failed[slot].store(true, std::memory_order_relaxed);
            if (frameUs > 0) vTaskDelay(frameUs);
        } else {
            failing = false;
            failed[slot].store(false, std::memory_order_relaxed);
        }
        // The slot goes back either way: a lost frame must not keep its ring slot for ever.
        rxQueue.enqueue(descriptor);
    }
    return nullptr;
}

void IOArray::tasks()
{
    if (!initialized.load(std::memory_order_acquire)) return;
    // An empty ring means the chain ran dry ("eventTasks" came late). On a loaded PC that recurs: it
    // is said at the 1st, 2nd, 4th... time.
    if (end == start && running && dryLog.reached(++dryPasses)) LOG_W(kTag, "output queue is empty\n");
    while (task_send()) {}
    running = true;
}

bool IOArray::task_send()
{
    if (!initialized.load(std::memory_order_acquire)) return false;
    if ((end + 1) % queue_size == start) return false;

    spi_ioc_transfer* descriptor = &buffer[end];
    uint8_t* tx = output_buffer + size_t(end) * size_t(block_size);
    uint8_t* rx = input_buffer + size_t(end) * size_t(block_size);
    std::memset(descriptor, 0, sizeof *descriptor);
    descriptor->tx_buf = uint64_t(uintptr_t(tx));
    descriptor->rx_buf = uint64_t(uintptr_t(rx));
    descriptor->len = uint32_t(block_size);
    descriptor->speed_hz = uint32_t(freq);
    descriptor->delay_usecs = 0;
    descriptor->bits_per_word = 8;

    // Software PWM: an output with a level is let through while the level is above the phase.
    for (int b = 0; b < block_size; ++b) {
        uint8_t bits = output_status[b].load(std::memory_order_relaxed);
        for (int k = 0; k < 8; ++k) {
            int level = pwm_status[b * 8 + k].load(std::memory_order_relaxed);
            if (level >= 0 && level <= pwm_counter) bits &= uint8_t(~(1u << k));
        }
        tx[b] = bits;
    }

    // The slot is taken only once its frame is really on its way.
    if (!txQueue.enqueue(descriptor)) return false;
    end = (end + 1) % queue_size;
    pwm_counter = (pwm_counter + 1) % pwm_depth.load(std::memory_order_relaxed);
    return true;
}

int IOArray::has_data()
{
    if (!initialized.load(std::memory_order_acquire)) return 0;
    spi_ioc_transfer* descriptor = nullptr;
    while (rxQueue.try_dequeue(descriptor)) {
        int slot = slotOf(descriptor);
        start = (start + 1) % queue_size;
        // A frame the bus did not carry has no input to deliver; its slot is free again all the same.
        if (failed[slot].load(std::memory_order_relaxed)) continue;
        const uint8_t* rx = input_buffer + size_t(slot) * size_t(block_size);
        bool changed = false;
        for (int b = 0; b < block_size; ++b) {
            if (input_status[b].load(std::memory_order_relaxed) != rx[b]) {
                changed = true;
                input_status[b].store(rx[b], std::memory_order_relaxed);
            }
        }
        return changed ? 2 : 1;
    }
    return 0;
}

int IOArray::get_bit(int i)
{
    if (!initialized.load(std::memory_order_acquire) || i < 0 || i >= max_io) return 0;
    return (input_status[i / 8].load(std::memory_order_relaxed) >> (i % 8)) & 1;
}

void IOArray::set_bit(int i, unsigned char v)
{
    if (!initialized.load(std::memory_order_acquire) || i < 0 || i >= max_io) return;
    auto& byte = output_status[block_size - 1 - i / 8];
    uint8_t mask = uint8_t(1u << (i % 8));
    if (v) byte.fetch_or(mask, std::memory_order_relaxed);
    else byte.fetch_and(uint8_t(~mask), std::memory_order_relaxed);
}

void IOArray::set_pwm(int i, int level)
{
    if (!initialized.load(std::memory_order_acquire) || i < 0 || i >= max_io) return;
    pwm_status[(block_size - 1 - i / 8) * 8 + i % 8].store(level, std::memory_order_relaxed);
}

int IOArray::get_max_pwm()
{
    if (!initialized.load(std::memory_order_acquire)) return 0;
    return pwm_depth.load(std::memory_order_relaxed);
}

int IOArray::ms_to_tick(int ms)
{
    if (!initialized.load(std::memory_order_acquire)) return 0;
    // In 64 bits: long idle periods at the unit's 5000 frames per second pass the int range.
    return clampToInt(int64_t(ms) * scan_freq / 1000);
}

void IOArray::set_pwm_depth(int d)
{
    if (!initialized.load(std::memory_order_acquire)) return;
    if (powerOfTwo(d)) pwm_depth.store(d, std::memory_order_relaxed);
    else LOG_W(kTag, "pwm depth must be a power of 2\n");
}

int IOArray::get_max_io()
{
    if (!initialized.load(std::memory_order_acquire)) return 0;
    return max_io;
}

unsigned char IOArray::get_byte(int i)
{
    if (!initialized.load(std::memory_order_acquire) || i < 0 || i >= block_size) return 0;
    return input_status[i].load(std::memory_order_relaxed);
}

void IOArray::set_byte(int i, unsigned char v)
{
    if (!initialized.load(std::memory_order_acquire) || i < 0 || i >= block_size) return;
    output_status[block_size - 1 - i].store(v, std::memory_order_relaxed);
}

unsigned char IOArray::get_output_status(int i)
{
    if (!initialized.load(std::memory_order_acquire) || i < 0 || i >= block_size) return 0;
    return output_status[i].load(std::memory_order_relaxed);
}
