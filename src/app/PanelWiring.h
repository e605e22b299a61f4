#pragma once

// Which input bit of the panel's shift-register chain each control drives. The board layer reads
// the controls through these bits; the host build's panel stand-in drives the same bits.
struct EncoderWiring {
    int lineA;
    int lineB;
    int push;
};

// Main encoder, then knobs 1 to 4.
inline constexpr EncoderWiring kEncoderWiring[] = {
    {21, 20, 22}, {17, 18, 19}, {13, 14, 12}, {11, 4, 10}, {3, 6, 5},
};

// Footswitches A, B and C.
inline constexpr int kFootswitchBits[] = {23, 16, 0};

// Bits whose changes count as handling the panel; the footswitches do not.
inline constexpr int kIdleBits[] = {5, 10, 12, 19, 22, 21, 20, 17, 18, 13, 14, 11, 4, 3, 6};
