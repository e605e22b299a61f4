#include "dsp/FrameConstants.h"

alignas(16) const float zq_zeros[2048] = {};
alignas(16) const float zq_ones[256] = {
#define ONE8 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f
#define ONE64 ONE8, ONE8, ONE8, ONE8, ONE8, ONE8, ONE8, ONE8
    ONE64,
    ONE64,
    ONE64,
    ONE64,
#undef ONE64
#undef ONE8
};

alignas(16) const float zq_identity8_0[8] = {1, 0, 0, 0, 0, 0, 0, 0};
alignas(16) const float zq_identity8_1[8] = {0, 1, 0, 0, 0, 0, 0, 0};
alignas(16) const float zq_identity8_2[8] = {0, 0, 1, 0, 0, 0, 0, 0};
alignas(16) const float zq_identity8_3[8] = {0, 0, 0, 1, 0, 0, 0, 0};
alignas(16) const float zq_identity8_4[8] = {0, 0, 0, 0, 1, 0, 0, 0};
alignas(16) const float zq_identity8_5[8] = {0, 0, 0, 0, 0, 1, 0, 0};
alignas(16) const float zq_identity8_6[8] = {0, 0, 0, 0, 0, 0, 1, 0};
alignas(16) const float zq_identity8_7[8] = {0, 0, 0, 0, 0, 0, 0, 1};
const float* const zq_identity8[8] = {zq_identity8_0, zq_identity8_1, zq_identity8_2, zq_identity8_3,
                                      zq_identity8_4, zq_identity8_5, zq_identity8_6, zq_identity8_7};
