#pragma once
#include "params/Source.h"

#include <cstdint>
#include <functional>

// The analog controller input (an expression pedal). Every 10 ms on "controlLoop" tasks() reads a
// 12-bit level (0..4095) through the reader function, smooths it and passes a one-byte level
// (0..255) to the linked controllers when it moves enough: a move of more than 10 steps passes at
// once and opens a 1-s window in which every change passes; outside it smaller drifts are ignored.
// Nothing passes during the first 2 s, while the input settles.
class SourceCtrl : public Source {
public:
    // Takes the channel, returns the level; values outside 0..4095 are clamped.
    using Reader = std::function<int(int)>;

    SourceCtrl(const char* name, const char* label, int channel, Reader reader);
    // Without a reader the source never produces anything.
    SourceCtrl(const char* name, const char* label, int channel);

    void initialize();
    void tasks() override;
    bool isInitialized() const { return initialized; }

protected:
    // Microseconds of the clock; a test may run its own.
    virtual uint64_t now();

private:
    int channel;
    Reader reader;
    bool initialized = false;
    // Twice the reading in steady state (0..8190): value = reading + value / 2.
    int value = 0;
    uint8_t last = 0;
    uint64_t jumpTime = 0;
    uint64_t startTime = 0;

    int readLevel();
};
