// Reference norms in extended precision and range (long double: a 64-bit significand and an
// exponent reaching 2^16383 on x86-64): no square of a double overflows or underflows there, and
// a sum rounds far below a double's spacing. For bounds on what the extensions return; their
// bits are compared with running sums in storage order instead.
#pragma once

#include "csc_view.h"
#include "random_csc.h"

#include <algorithm>
#include <cmath>
#include <vector>

// The 2-norm of values: the square root of the sum of their squares.
inline long double wide_fro_norm(const std::vector<double>& values)
{
    long double total = 0.0L;
    for (double x : values) total += static_cast<long double>(x) * x;
    return std::sqrt(total);
}

// m's norm of the given kind: Frobenius, or the largest column (NORM_ONE) or row (NORM_INF) sum
// of magnitudes. A NaN sum never wins.
inline long double wide_norm(const TestMatrix& m, NormKind kind)
{
    if (kind == NORM_FRO) return wide_fro_norm(m.pr);
    std::vector<long double> colsum(m.ncols, 0.0L), rowsum(m.nrows, 0.0L);
    for (uint64_t j = 0; j < m.ncols; ++j) {
        for (uint64_t k = m.jc[j]; k < m.jc[j + 1]; ++k) {
            const long double a = std::fabs(static_cast<long double>(m.pr[k]));
            colsum[j] += a;
            rowsum[m.ir[k]] += a;
        }
    }
    long double best = 0.0L;
    for (long double s : kind == NORM_ONE ? colsum : rowsum) best = std::max(best, s);
    return best;
}
