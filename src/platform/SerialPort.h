#pragma once
#include <string>

// The computer's side of the unit's USB gadget serial port. On the unit the tty (/dev/ttyGS0) appears
// when a cable is plugged in and the computer opens it at its end; nothing here is needed. The host
// build stands in with a pseudo-terminal: plug() creates one, links its device end at
// Paths::map(unitPath) for the program to open, and returns the other end, which plays the computer.
// unplug() closes that end, so the program's reads see the hang-up, and removes the link. Tests and
// host tools only. The MIDI UART (/dev/ttyS0) is stood in for the same way: the other end plays the
// MIDI device; the program's extended terminal settings (custom baud rate) apply to the pseudo-terminal
// as they do to the UART.
class SerialPort {
public:
    // The computer's end (a raw, non-blocking descriptor), or -1 when none can be made (always on
    // the unit).
    static int plug(const std::string& unitPath);
    static void unplug(int computerEnd, const std::string& unitPath);
};
