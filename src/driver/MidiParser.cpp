#include "driver/MidiParser.h"

namespace {

constexpr uint8_t kSysEx = 0xF0;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kProgramChange = 0xC0;

// Data bytes of a channel message by its status: program change and channel pressure take one.
int channelDataBytes(uint8_t status)
{
    uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

// Data bytes of a system common message: quarter frame and song select take one, song position
// two; tune request, end of exclusive and the undefined F4 and F5 none.
int commonDataBytes(uint8_t status)
{
    switch (status) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
    }
}

} // namespace

void MidiParser::reset()
{
    status = 0;
    count = 0;
    needed = 0;
    skip = 0;
    exclusive = false;
}

int MidiParser::push(uint8_t byte, uint8_t message[kMaxMessage])
{
    if (byte >= kClock) {
        // Real-time: outside every message, so nothing gathered so far is touched.
        if (byte != kClock) return 0;
        message[0] = kClock;
        return 1;
    }
    if (byte & 0x80) {
        count = 0;
        exclusive = byte == kSysEx;
        if (byte >= kSysEx) {
            // System exclusive and system common cancel running status.
            status = 0;
            skip = commonDataBytes(byte);
            return 0;
        }
        status = byte;
        needed = channelDataBytes(byte);
        skip = 0;
        return 0;
    }
    if (exclusive) return 0;
    if (skip > 0) {
        --skip;
        return 0;
    }
    if (status == 0) return 0;
    data[count++] = byte;
    if (count < needed) return 0;
    // Complete; the status stays for running status.
    count = 0;
    uint8_t kind = status & 0xF0;
    if (kind != kControlChange && kind != kProgramChange) return 0;
    message[0] = status;
    message[1] = data[0];
    if (kind == kProgramChange) return 2;
    message[2] = data[1];
    return 3;
}
