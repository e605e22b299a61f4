#pragma once

// How the program stops off the unit (the host build, or the device build on a build machine):
// SIGTERM, and Ctrl-C (SIGINT) when Bluetooth does not run (no $KESTRUN_DBUS_ADDRESS, see
// Bluetooth::hasBus), end it once every stored value still pending has been written to its file and
// the terminal has been given back as the panel keys found it. Where Bluetooth runs SIGINT stays the
// Bluetooth side's (teardown, the program keeps running). The unit has no orderly shutdown: there
// nothing changes.
//
// Main thread only. The stop signals are blocked before any other thread exists, so every thread
// inherits the block and the main thread alone takes them, at a point of its own choosing.
class HostStop {
public:
    // Before the first thread is created.
    static void prepare();
    // For the rest of the process: sleeps, and after a stop signal writes what is pending and ends
    // the process (status 0). On the unit it only sleeps.
    [[noreturn]] static void waitForever();
};
