// The compressed-sparse-column view of a host matrix and the norm kinds both extensions share.
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
