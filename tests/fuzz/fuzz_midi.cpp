// The MIDI byte parser, through the input path the unit runs: bytes arrive on the MIDI port's
// pseudo-terminal, the "midi" source reads and parses them on its pass and drives the unit's CC and
// program-change mappings (block switches, preset loads). The thru bytes are drained.
#include "FuzzSupport.h"

#include "params/Control.h"
#include "params/Source.h"
#include "platform/SerialPort.h"

#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int device = -1;
    static Source* midi = [] {
        fuzz_unit();
        device = SerialPort::plug("/dev/ttyS0");
        Source* source = Control::getSource("midi");
        if (device < 0 || !source) std::abort();
        source->tasks(); // opens the port
        return source;
    }();
    // One pass reads at most 256 bytes, as the unit's 10-ms pass does.
    uint8_t thru[512];
    for (size_t done = 0; done < size;) {
        ssize_t n = ::write(device, data + done, size - done < 256 ? size - done : 256);
        if (n <= 0) std::abort();
        done += size_t(n);
        midi->tasks();
        while (::read(device, thru, sizeof thru) > 0) {
        }
    }
    return 0;
}
