// The MIDI byte parser (the standalone class the MIDI input feeds): every message it passes on is one
// the controllers understand, whatever the byte stream.
#include "driver/MidiParser.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MidiParser parser;
    uint8_t message[MidiParser::kMaxMessage];
    for (size_t i = 0; i < size; ++i) {
        // The first byte of an input resets the parser half the time, as a reconnected port would.
        if (i == 1 && (data[0] & 1)) parser.reset();
        const int length = parser.push(data[i], message);
        if (length == 0) continue;
        const int type = message[0] & 0xF0;
        const bool clock = length == 1 && message[0] == MidiParser::kClock;
        const bool program = length == 2 && type == 0xC0;
        const bool control = length == 3 && type == 0xB0;
        if (!clock && !program && !control) std::abort();
        for (int k = 1; k < length; ++k)
            if (message[k] & 0x80) std::abort();
        // A clock passes at once: it is the byte just read.
        if (clock && data[i] != MidiParser::kClock) std::abort();
    }
    return 0;
}
