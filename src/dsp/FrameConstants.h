#pragma once

// Read-only buffers shared by the frame kernels: a source of silence, of unit gain and the 8 x 8
// identity matrix given as row pointers.
extern const float zq_zeros[2048];
extern const float zq_ones[256];
extern const float zq_identity8_0[8];
extern const float zq_identity8_1[8];
extern const float zq_identity8_2[8];
extern const float zq_identity8_3[8];
extern const float zq_identity8_4[8];
extern const float zq_identity8_5[8];
extern const float zq_identity8_6[8];
extern const float zq_identity8_7[8];
extern const float* const zq_identity8[8];
