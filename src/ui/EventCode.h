#pragma once

// The integer codes that travel through the event queue to the screens. A control code is its
// group base plus an offset: main encoder and footswitch A share MAIN, knob 1 and footswitch B
// KNOB1, knob 2 and footswitch C KNOB2 (so MAIN + FOOT_PRESS = 16 is a press of footswitch A).
namespace EventCode {

constexpr int DRAW = 1; // build the widgets of this frame (display loop)
constexpr int CLOSE = 2; // delete the top screen (posted by the screen itself)
constexpr int INACTIVITY = 3; // no encoder or push moved for the idle time
constexpr int TICK = 20; // every 200 ms
constexpr int PAIR_AB = 50; // footswitches A and B clicked together
constexpr int PAIR_BC = 51; // footswitches B and C clicked together

// Group bases.
constexpr int MAIN = 10;
constexpr int KNOB1 = 40;
constexpr int KNOB2 = 240;
constexpr int KNOB3 = 340;
constexpr int KNOB4 = 440;

// Offsets within a group.
constexpr int TURN_UP = 0;
constexpr int TURN_DOWN = 1;
constexpr int PUSH_PRESS = 2;
constexpr int PUSH_CLICK = 3; // released within 1.5 s
constexpr int PUSH_LONG = 4; // still held after 1.5 s, once per press
constexpr int PUSH_LONG_RELEASE = 5; // released after 1.5 s or more
constexpr int FOOT_PRESS = 6;
constexpr int FOOT_CLICK = 7;
constexpr int FOOT_LONG = 8;
constexpr int FOOT_LONG_RELEASE = 9;

} // namespace EventCode
