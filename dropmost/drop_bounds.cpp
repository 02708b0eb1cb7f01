// The bounds that decide a threshold without an exact sum, and the host scratch of the drop.
#include "drop_internal.h"

#include "host_api.h"

#include <cassert>
#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();
static constexpr double UNIT_ROUNDOFF = 0x1p-53;

// With u the unit roundoff and n the terms of one sum:
// - the exact measure sums n terms (rounded squares for the Frobenius norm) in storage order:
//   within (n + 1) u of the exact sum of the terms;
// - an approximate sum rounds each scaled term, adds it into a bucket and the buckets (or the
//   sorted terms) into a running total: within (3 n + 2) u;
// - the square root, the rounded target and the products q * margin add a few u;
// - terms scaled into the subnormal range lose at most 2^-1074 each, far below u of a target of
//   at least 1 for any count of terms that memory can hold.
// (6 n + 64) u covers their sum with room to spare; a count near 2^50 would make it meaningless.
// One error is absolute: a Frobenius norm in the subnormal range is rounded to a multiple of
// 2^-1074, which can be a large part of it (two squares of the least subnormal have the norm
// 1.41 times it, rounded to it). The targets stand that far from tol on either side. A sum of
// magnitudes has no such error: additions in the subnormal range are exact.
Scale scale_for(double tol, bool squares, uint64_t nterms)
{
    assert(tol > 0.0 && tol < INF);
    assert(nterms < (uint64_t{1} << 48));
    Scale s;
    s.tol_exponent = std::ilogb(tol);
    s.squares = squares;
    const double t = std::ldexp(tol, -s.tol_exponent);
    if (squares) {
        const double ulp = std::ldexp(1.0, -1074 - s.tol_exponent);  // 0 once tol is normal
        const double below = t > ulp ? t - ulp : 0.0;
        s.fit_below = below * below;
        s.exceed_above = (t + ulp) * (t + ulp);
    } else {
        s.fit_below = s.exceed_above = t;
    }
    s.margin = (6.0 * static_cast<double>(nterms) + 64.0) * UNIT_ROUNDOFF;
    const int high = -s.tol_exponent < 1023 ? -s.tol_exponent : 1023;
    s.unscale_high = std::ldexp(1.0, high);
    s.unscale_low = std::ldexp(1.0, -s.tol_exponent - high);
    return s;
}

double scaled_term(double a, const Scale& s)
{
    const double x = a * s.unscale_high * s.unscale_low;
    return s.squares ? x * x : x;
}

bool surely_fits(double q, const Scale& s)
{
    return q + q * s.margin <= s.fit_below;
}

// An infinite q comes of an infinite term or of a sum some 2^1000 times tol: both exceed.
bool surely_exceeds(double q, const Scale& s)
{
    return q == INF || q - q * s.margin > s.exceed_above;
}

// Counts come from the stored entries, columns and rows, which the host already holds in memory,
// so no product handed to it can wrap.
void* take_scratch(uint64_t count, size_t size)
{
    assert(count <= SIZE_MAX / size);
    return mxCalloc(count, size);
}

void release_scratch(void* block)
{
    if (block != nullptr) mxFree(block);
}
