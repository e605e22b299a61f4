#pragma once
#include <cmath>

// Linear interpolation in a table at a fractional position: (1 - f) table[i] + f table[i + 1], with
// i the whole part of pos and f the rest. The bounded form ANDs both indices with mask, for rings of
// mask + 1 entries (a power of two). i is taken downwards, which for positions of 0 and above is the
// integer part; below 0 a ring read then still interpolates between the two neighbours of pos
// instead of extrapolating from entries 0 and 1.
inline float modulations_get_fractional_index_value_bounded(const float* table, float pos, int mask)
{
    const float whole = std::floor(pos);
    const int i = static_cast<int>(whole);
    const float f = pos - whole;
    return (1.0f - f) * table[i & mask] + f * table[(i + 1) & mask];
}

// pos must lie in 0 .. size - 1 of the table (the entry after i is read as well).
inline float modulations_get_fractional_index_value(const float* table, float pos)
{
    return modulations_get_fractional_index_value_bounded(table, pos, -1); // all bits: no wrap
}
