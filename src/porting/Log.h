#pragma once
#include <cstdio>

// Log lines on standard output: "I (tag): ", "W (tag): ", "ERROR (tag): " followed by the message,
// whose format carries its own line feed. Never called on the audio threads.
#define LOG_I(tag, fmt, ...) std::printf("I (%s): " fmt, tag __VA_OPT__(, ) __VA_ARGS__)
#define LOG_W(tag, fmt, ...) std::printf("W (%s): " fmt, tag __VA_OPT__(, ) __VA_ARGS__)
#define LOG_E(tag, fmt, ...) std::printf("ERROR (%s): " fmt, tag __VA_OPT__(, ) __VA_ARGS__)
