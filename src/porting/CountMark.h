#pragma once

// Marks for the instruction counter (scripts/count_device.py, which runs the aarch64 build under
// qemu with a plugin of ours): hint instructions from the range the architecture executes as no-ops,
// which the plugin reads as "a frame starts", "the next block starts", "back to the frame road", so
// that a frame's count splits by block; the amp-model workers mark each frame they run. One no-op
// each on the unit; nothing on other targets.
#if defined(__aarch64__)
inline void count_mark_frame()
{
    asm volatile("hint #0x70");
}
inline void count_mark_block()
{
    asm volatile("hint #0x71");
}
inline void count_mark_road()
{
    asm volatile("hint #0x72");
}
#else
inline void count_mark_frame() {}
inline void count_mark_block() {}
inline void count_mark_road() {}
#endif
