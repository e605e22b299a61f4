#pragma once
#include <atomic>
#include <cstdint>
#include <pthread.h>

// Threads under the microcontroller SDK's names. Every thread of the program is created here,
// detached and named. With the unit's priorities (always on the device, on the host only with
// KESTRUN_REALTIME=1: see Scheduling) each is pinned to one CPU and scheduled by its priority:
//   priority above 20: SCHED_FIFO at that priority (the audio and amp-model threads);
//   1 to 20: normal scheduling at nice -priority;
//   0 or below: inherited scheduling and nice value.
// Core 1 runs on CPU 3, core 2 on CPU 2, core 3 on CPU 1, every other core on CPU 0. A machine that
// lacks the CPU (pinned to the CPU modulo the online count) or refuses the real-time priority (normal
// scheduling) still gets its thread, with a warning. Otherwise every thread inherits the caller's
// scheduling and may run on any CPU.

using TaskHandle_t = pthread_t;
using TaskFunction_t = void* (*)(void*);

int xTaskCreatePinnedToCore(TaskFunction_t function, const char* name, uint32_t stackSize, void* argument, int priority,
                            TaskHandle_t* handle, unsigned core);

// A cooperative pause. vTaskSuspend asks the thread to stop at its next pause point (vTaskDelay or
// task_exit_point: places where it holds no lock and no allocation is under way) and to wait there
// until vTaskResume. A thread is never stopped wherever it stands: stopped holding the allocator's
// lock, or stdout's, it would stop every thread that needs them, the audio thread included, until
// someone resumed it. Both may be called from any thread, in any order and as often as wanted: the
// last call wins. Neither ever waits, so the audio thread may resume. 0 on success.
int vTaskSuspend(TaskHandle_t handle);
int vTaskResume(TaskHandle_t handle);
TaskHandle_t xTaskGetCurrentTaskHandle();

// Sleeps a number of MICROSECONDS (not ticks): 10000 is 10 ms. Then a pause and exit point (below).
void vTaskDelay(uint32_t microseconds);

// A thread's pause point: it waits here while suspended. Also its exit point: a test program runs all
// its tests in one process and ends the threads of one test before the next: task_end_all asks every
// thread created here to end, wakes each from its delay or pause, and waits until all have gone
// (false when some did not within the time). A thread asked to end leaves (pthread_exit, its
// destructors run) at its next vTaskDelay or task_exit_point; loops that never delay call
// task_exit_point. The program itself never asks a thread to end.
void task_exit_point();
bool task_end_all(uint32_t timeoutUs);

// Installs the handler of the signal that cuts a sleep short for task_end_all (thread creation does
// it too).
void init_task_management();

// The CPU that a core argument pins to on the unit.
int task_core_to_cpu(unsigned core);

extern std::atomic<uint8_t> managment_initialized;
