// The compressed-sparse-column view of a host matrix, the norm kinds both extensions share, and
// the few operations on stored values that every sum here is built from.
#pragma once

#include <cstdint>
#include <cstring>

// Read-only view of a real sparse matrix as the host stores it. Column j holds
// pr[jc[j]] .. pr[jc[j+1] - 1] with row indices ir[...]; jc has ncols + 1 entries and jc[0] is 0.
// Trusted, never tested: jc does not decrease, nnz == jc[ncols], every ir[k] < nrows.
struct CscView {
    const double* pr;
    const uint64_t* ir;
    const uint64_t* jc;
    uint64_t nrows;
    uint64_t ncols;
    uint64_t nnz;
};

enum NormKind : int {
    NORM_FRO = 0,
    NORM_ONE = 1,
    NORM_INF = 2,
    NORM_BAD = 888,
};

// |x| by clearing the sign bit: the magnitude of -0.0 is +0.0 and that of a NaN stays a NaN.
inline double magnitude(double x)
{
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= ~(uint64_t{1} << 63);
    std::memcpy(&x, &bits, sizeof bits);
    return x;
}

// a when keep, else +0.0, without a branch. Adding or subtracting +0.0 leaves every sum's bits
// as they were (a sum of magnitudes is never -0.0).
inline double masked(double a, bool keep)
{
    uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    bits &= uint64_t{0} - static_cast<uint64_t>(keep);
    std::memcpy(&a, &bits, sizeof bits);
    return a;
}

// Strict, ordered maximum of values[0 .. n-1] starting from +0.0: NaNs and negatives never win.
inline double largest_of(const double* values, uint64_t n)
{
    double best = 0.0;
    for (uint64_t i = 0; i < n; ++i)
        if (values[i] > best) best = values[i];
    return best;
}
