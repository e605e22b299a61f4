#pragma once
// What the fuzz targets share: a fresh root folder per process, and the unit's whole tree.
#include <cstddef>
#include <cstdint>
#include <string>

class Kestrun;

// Gives the process a fresh root folder (removed at exit) and silences the program's log lines on
// standard output, so that libFuzzer's own report on standard error stays readable. Idempotent.
void fuzz_setup();

// The application block with the tree, presets and effect blocks it builds, made once per process
// (the audio engine and service threads are not started).
Kestrun* fuzz_unit();

// The input as a text, cut at its first NUL as the transports cut a request.
std::string fuzz_text(const uint8_t* data, size_t size);
