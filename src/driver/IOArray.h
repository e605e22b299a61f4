#pragma once
#include <atomic>
#include <concurrentqueue/concurrentqueue.h>
#include <cstdint>
#include <linux/spi/spidev.h>

#include "porting/LogOnce.h"

// The panel's push-encoders, footswitches, LEDs and switched outputs on a chain of shift registers
// clocked over SPI ("/dev/spidev0.0", mode 2): every full-duplex transfer of one frame shifts the
// output bits out and the input bits in.
//
// Threads:
//   "IO Array SPI" (SCHED_FIFO 40) takes prepared frames from txQueue and transfers them back to
//     back, so the chain is clocked continuously at scan_freq frames per second; sent frames, with
//     the bytes received, go to rxQueue.
//   "eventTasks" (every 10 ms) calls tasks(), which keeps the ring of prepared frames full and applies
//     the software PWM; the board layer then drains the received frames with has_data() and reads
//     them with get_bit().
//   Any thread may call set_bit, set_pwm and the other setters (the application's compile pass and
//     the status light do); the output and PWM state is atomic per byte and per bit, so setters of
//     different threads never undo each other; every frame prepared after a change carries it (the
//     ring holds up to queue_ms of frames prepared before).
//
// Bit addressing: output bit i is bit i % 8 of output byte block_size - 1 - i / 8 (the first byte
// shifted out travels to the far end of the chain); input bit i is bit i % 8 of input byte i / 8.
// The PWM level of output bit i sits at the same reversed position: pwm_status[(block_size - 1 - i / 8)
// * 8 + i % 8]. A level L on an output that is on keeps it on in L of every pwm_depth frames (-1: no
// PWM). Nothing allocates after initialize: frames are preallocated per ring slot and only pointers
// travel through the queues. Before initialize every operation does nothing or returns 0.
class IOArray {
public:
    // n_io lines, scan_freq frames per second, queue_ms of prepared frames, PWM period in frames (a
    // power of two); the last four arguments are not used. The unit: (24, 5000, 100, 32, -2, -2, -2,
    // -2): 3 bytes per frame, SPI clock 120 kHz, 500 ring slots.
    static void initialize(int n_io, int scan_freq, int queue_ms, int pwm_depth, int, int, int, int);
    // Every 10 ms on "eventTasks": fills the ring, then marks the array running.
    static void tasks();
    // Prepares one frame; false when the ring is full.
    static bool task_send();
    // Takes one received frame into the input bits: 0 = none waiting, 1 = no input byte changed,
    // 2 = some input byte changed.
    static int has_data();

    static int get_bit(int i);
    static void set_bit(int i, unsigned char v);
    // -1 switches PWM off for that bit.
    static void set_pwm(int i, int level);
    static int get_max_pwm();
    // The number of frames in that time.
    static int ms_to_tick(int ms);
    static void set_pwm_depth(int d);
    static int get_max_io();
    // Input byte i.
    static unsigned char get_byte(int i);
    // Output byte i, stored at the reversed position block_size - 1 - i.
    static void set_byte(int i, unsigned char v);
    // Output byte i as stored (frame order).
    static unsigned char get_output_status(int i);

    static const char* const kTag;

    static int block_size;
    static int max_io;
    static int scan_freq;
    static int freq;
    static int queue_size;
    // Ring positions (eventTasks only): end = next slot to prepare, start = next slot whose received
    // frame is consumed.
    static int start;
    static int end;
    // Per slot, block_size bytes each, slot after slot.
    static uint8_t* input_buffer;
    static uint8_t* output_buffer;
    // Per slot, the transfer descriptor of that slot's frame.
    static spi_ioc_transfer* buffer;
    // Per slot: the SPI thread could not transfer it (its input is not delivered).
    static std::atomic<bool>* failed;
    static std::atomic<uint8_t>* input_status;
    static std::atomic<uint8_t>* output_status;
    static std::atomic<int>* pwm_status;
    static std::atomic<int> pwm_depth;
    static int pwm_counter;
    // Never destroyed: the SPI thread runs until the process has gone.
    static moodycamel::ConcurrentQueue<spi_ioc_transfer*>& txQueue;
    static moodycamel::ConcurrentQueue<spi_ioc_transfer*>& rxQueue;
    static int spi_fd;
    static std::atomic<bool> initialized;
    static bool running;
    // Passes of tasks() that found the ring empty, and their log ("eventTasks" only).
    static uint64_t dryPasses;
    static LogOnce dryLog;

private:
    static void* ioctl_tasks(void*);
    static int slotOf(const spi_ioc_transfer* descriptor);
};
