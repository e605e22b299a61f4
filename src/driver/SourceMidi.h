#pragma once
#include "driver/MidiParser.h"
#include "params/Source.h"

#include <string>

// The MIDI input: a UART at 31,250 baud, 8N1 ("/dev/ttyS0" on the unit; the host build opens a
// pseudo-terminal linked at the mapped path). Every 10 ms on "controlLoop" tasks() reads what has
// arrived, passes control changes (3 bytes), program changes (2 bytes) and each timing clock
// (MIDI_CLOCK_MESSAGE) to the linked controllers, and writes every byte read back out of the port
// unchanged (MIDI thru). The port is opened on the first pass that succeeds.
//
// The bytes are read as MIDI 1.0 streams are sent (MidiParser): real-time bytes anywhere, running
// status, system exclusive and system common messages skipped.
class SourceMidi : public Source {
public:
    static constexpr unsigned char MIDI_CLOCK_MESSAGE[1] = {MidiParser::kClock};
    static constexpr int kReadSize = 256;
    static constexpr int kBaudRate = 31250;

    // The two integers are kept and not used.
    SourceMidi(const char* name, const char* label, const char* port, int first, int second);
    ~SourceMidi() override;

    // Opens and sets up the port; on failure the next pass tries again.
    void initialize();
    void tasks() override;
    bool isInitialized() const { return initialized; }

private:
    std::string port;
    int first;
    int second;
    int fd = -1;
    unsigned char rxBuffer[kReadSize] = {};
    MidiParser parser;
    bool initialized = false;
    // The open error is printed once per run of failed attempts, not every 10 ms.
    bool openFailed = false;
};
