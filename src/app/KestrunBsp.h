#pragma once
#include <atomic>
#include <cstdint>

#include "app/PanelInput.h"
#include "base/Bsp.h"

class Ads1115;
class SourceCtrl;
class SourceMidi;

// The board support of this unit. The constructor (main thread, during the application's
// construction) creates the analog controller's converter and the MIDI and analog control sources,
// then runs the start-up scripts: GPIO 26 low, every existing thread pinned to CPU 0, the Bluetooth
// connection parameters and the USB gadget (serial function linked).
//
// On "eventTasks": initialize() once (codec, display with the unit's splash, panel I/O array), then
// eventLoop() every 10 ms, which drains every received panel frame into event codes
// (EventDispatcher::addEvent).
class KestrunBsp : public Bsp {
public:
    KestrunBsp();

    void initialize() override;
    void eventLoop() override;

    // The analog controller's reading as the control source takes it (12-bit scale, from the
    // converter's millivolts; "controlLoop").
    int controllerLevel() const;

    // The unit's start-up picture, drawn into the active screen.
    static void splash();
    // GPIO, CPU pinning, Bluetooth parameters and USB gadget, through the unit's shell.
    static void runStartupScripts();
    // The gadget configuration piped to the root shell at start (serial function linked).
    static const char* const kGadgetScript;

    // Seconds without encoder or push changes before the inactivity event; 0 or less: never.
    int idle_seconds = 30;
    Ads1115* ads = nullptr;
    // Written by the application's compile pass ("compileLoop"), read here.
    std::atomic<uint8_t> encoder_ccw{0};
    std::atomic<uint8_t> usb_data{1};

    SourceMidi* midi = nullptr;
    SourceCtrl* ctrl = nullptr;

    // eventLoop passes so far, each counted once it has drained the frames (the host panel paces its
    // presses by them).
    std::atomic<uint64_t> passes{0};

private:
    PanelInput input;
};
