#pragma once

// The pickup simulator's stored transfer responses: one 1024-tap impulse response at 48 kHz per pair
// of source pickup and target pickup. Entry i = source block x 18 + target index, the source blocks
// being humbucker (0), single coil (18) and bright single coil (36), the targets in the order of the
// simulator's "Output" options. Names read "<source>--<target>" ("HumBkr--HB-Bright").
// Built once before main; read-only afterwards, from any thread.
constexpr int pickup_count = 54;
constexpr int pickup_taps = 1024;
constexpr int pickup_targets = 18;

extern const float* const pickup_ptr[pickup_count];
extern const char* const pickup_names[pickup_count];
