#pragma once

// How the program stops on a host whose Bluetooth does not run (no $KESTRUN_DBUS_ADDRESS, see
// Bluetooth::hasBus): Ctrl-C (SIGINT) and SIGTERM end it once every stored value still pending has
// been written to its file and the terminal has been given back as the panel keys found it. Where
// Bluetooth runs (the unit, or a host given a bus) nothing changes: SIGINT is the Bluetooth side's,
// SIGTERM ends the process at once, and the unit has no orderly shutdown.
//
// Main thread only. The two signals are blocked before any other thread exists, so every thread
// inherits the block and the main thread alone takes them, at a point of its own choosing.
class HostStop {
public:
    static bool wanted();
    // Before the first thread is created. Does nothing unless wanted.
    static void prepare();
    // For the rest of the process: sleeps, and after a stop signal writes what is pending and ends
    // the process (status 0). Where no stop is wanted it only sleeps.
    [[noreturn]] static void waitForever();
};
