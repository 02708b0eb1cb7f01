// Doubles as their bit patterns. The order of every operation is fixed, so a result must equal
// its reference to the last bit, the sign of a zero and a NaN's payload included; a tolerance
// would hide a reordered sum.
#pragma once

#include <cstdint>
#include <cstring>

// The 64 bits of x.
inline uint64_t bits_of(double x)
{
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// The double whose 64 bits are b.
inline double from_bits(uint64_t b)
{
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

// For GoogleTest programs: actual equals expected bit for bit; both are printed when not.
#define EXPECT_BITS(actual, expected) \
    EXPECT_EQ(bits_of(actual), bits_of(expected)) << (actual) << " vs " << (expected)
