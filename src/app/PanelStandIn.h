#pragma once
#include <atomic>
#include <cstdint>

// The host build's stand-in for the unit's panel, so that a person or a test can work the program
// as the player does. It drives the input bits of the model shift-register chain and the model
// converter exactly as the hardware would, so everything from the SPI frames on (debounce, long
// presses, quadrature decoding, inactivity) is the unit's own code. A press is held until the board
// has taken it as debounced (by its own clock, so a loaded machine loses none), an encoder line until
// a frame has carried it.
//
// Commands, one a line, come from the named pipe "panel" in the root folder
// (echo "click a" > "$KESTRUN_ROOT/panel"); a plain file there (an echo before the first start) is
// replaced by the pipe:
//   turn main|knob1..knob4 [N]     N detents (default 1; negative turns down)
//   click CONTROL                  a short press: CONTROL is main, knob1..knob4 (the encoder pushes)
//                                  or a, b, c (the footswitches)
//   long CONTROL                   held for a long press (1.6 s past the debounce)
//   press CONTROL / release CONTROL  held down until released (a turn meanwhile, for instance)
//   pair ab|bc                     two footswitches pressed together
//   expr MILLIVOLTS                the analog controller input (0 to 4095 mV)
//   bit N 0|1                      any input line of the chain
//   wait MS                        a pause, for scripts
// Each command is logged with "I (Panel): " once it has been carried out; a line that is not a
// command is refused with a warning, and so is an argument out of range, naming it and its range.
// With KESTRUN_PANEL_KEYS=1 and a terminal on standard input the terminal's keys work the panel too
// (see README.md); an escape sequence (an arrow) is one key, a lone Esc does nothing.
//
// On the unit the panel is real and start() does nothing; elsewhere (the host build, the device
// build off the unit) the panel is the model chain and this pipe works it.
class PanelStandIn {
public:
    // Once, after the panel I/O array has started ("eventTasks"); later calls do nothing. `passes`
    // counts the board's event-loop passes.
    static void start(const std::atomic<uint64_t>& passes);
    // Puts the terminal back as it was before the keys took it (a stop on the host, any thread).
    // A program that ends otherwise gets it back from a watcher process, a moment after its end.
    static void giveTerminalBack();
};
