#pragma once
#include <cstdint>

// The MIDI 1.0 input byte stream turned into the messages the controllers use: control changes
// (3 bytes), program changes (2 bytes) and the timing clock (0xF8, 1 byte). It is fed one byte at a
// time and keeps only a few bytes of state, so it can be driven on its own (tests, fuzzing) as well
// as by SourceMidi on "controlLoop". It allocates nothing.
//
// What senders may do and the parser follows:
// - Real-time bytes (0xF8 to 0xFF) may come anywhere, even between a status and its data bytes.
//   The clock passes at once; the others (start, continue, stop, active sensing, reset) are taken
//   and leave the message around them intact.
// - Running status: after a channel message, further data bytes repeat it without a status byte.
// - System exclusive (0xF0 ... 0xF7) and system common messages (0xF1 to 0xF7) are skipped with
//   their data bytes, and end any running status.
// - Other channel messages (notes, pressure, pitch bend) are parsed, so that their data bytes are
//   not mistaken for anything else, but not passed.
// - A data byte with no status to belong to is ignored.
class MidiParser {
public:
    static constexpr uint8_t kClock = 0xF8;
    static constexpr int kMaxMessage = 3;

    // Takes one byte. When it completes a message that is passed on, copies the message into
    // `message` and returns its length (1, 2 or 3); otherwise returns 0.
    int push(uint8_t byte, uint8_t message[kMaxMessage]);
    // Forgets any message in progress and the running status.
    void reset();

private:
    // The running channel status (0x80 to 0xEF), or 0 when data bytes have nothing to belong to.
    uint8_t status = 0;
    // Data bytes of the current message gathered so far, and how many it needs.
    uint8_t data[2] = {};
    int count = 0;
    int needed = 0;
    // Data bytes of a system common message still to skip; inside system exclusive, every data
    // byte is skipped until a status byte ends it.
    int skip = 0;
    bool exclusive = false;
};
