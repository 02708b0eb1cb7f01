// Floors of the threshold search: below them an entry is dropped whatever the other values.
#include "search_internal.h"

#include <cmath>
#include <limits>

// The floor promises that `per` entries at the floor stay within tol (`per` is the count for
// the 1- and infinity norms, its square root for the Frobenius norm). A quotient in the
// subnormal range can round up by a large part of itself (tol of five smallest subnormals over
// six entries rounds to a whole one), which would break that promise: there the floor steps
// down until it holds again. A normal quotient is kept as it is.
static double floor_within_tol(double tol, double per)
{
    double floor = tol / per;
    while (floor > 0.0 && floor < std::numeric_limits<double>::min() && floor * per > tol)
        floor = std::nextafter(floor, 0.0);
    return floor;
}

double floor_fro(double tol, uint64_t nnz)
{
    return floor_within_tol(tol, std::sqrt(static_cast<double>(nnz)));
}

double floor_one(double tol, uint64_t maxcol)
{
    return floor_within_tol(tol, static_cast<double>(maxcol));
}

double floor_inf(double tol, uint64_t ncols)
{
    return floor_within_tol(tol, static_cast<double>(ncols));
}

uint64_t largest_column_count(const uint64_t* jc, uint64_t ncols)
{
    uint64_t most = 0;
    for (uint64_t j = 0; j < ncols; ++j)
        if (jc[j + 1] - jc[j] > most) most = jc[j + 1] - jc[j];
    return most;
}
