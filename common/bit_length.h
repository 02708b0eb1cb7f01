// The number of bits n takes: 0 for 0, k + 1 for n in [2^k, 2^(k+1)). A loop rather than a
// compiler builtin, so that every host's compiler builds it (it sizes digits and levels, never
// runs per entry).
#pragma once

#include <cstdint>

inline unsigned bit_length(uint64_t n)
{
    unsigned bits = 0;
    for (; n > 0; n >>= 1) ++bits;
    return bits;
}
