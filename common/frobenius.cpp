#include "frobenius.h"

#include "csc_view.h"

#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// A value above the threshold adds +0.0, which leaves the total's bits as they were, so the
// loop does not branch on the values (dropped and kept ones mixed at random would mispredict).
double sum_of_scaled_squares(const double* pr, uint64_t nnz, double threshold, double scale)
{
    double total = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        const double x = a * scale;
        total += masked(x * x, threshold >= a);
    }
    return total;
}

double largest_at_or_below(const double* pr, uint64_t nnz, double threshold)
{
    double best = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (threshold >= a && a > best) best = a;
    }
    return best;
}

double balanced_scale(double largest, double least)
{
    const int high = std::ilogb(largest), low = std::ilogb(least);
    const int middle = (high + low) >= 0 ? (high + low) / 2 : -((1 - high - low) / 2);
    int e = -middle;
    if (e > 480 - high) e = 480 - high;
    // The scale itself must be a normal double.
    if (e > 1023) e = 1023;
    if (e < -1022) e = -1022;
    return std::ldexp(1.0, e);
}

// Every value scaled exactly by 2^-e, e the exponent of the largest (ldexp applies the scale
// without forming it, which a subnormal largest magnitude would need).
static double scaled_norm(const double* pr, uint64_t nnz, double threshold, double largest)
{
    const int e = std::ilogb(largest);
    double total = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (!(threshold >= a)) continue;
        const double x = std::ldexp(a, -e);
        total += x * x;
    }
    return std::ldexp(std::sqrt(total), e);
}

double frobenius_norm_at_or_below(const double* pr, uint64_t nnz, double threshold)
{
    const double total = sum_of_scaled_squares(pr, nnz, threshold, 1.0);
    if (total < INF && !(total < SMALLEST_TRUSTED_TOTAL)) return std::sqrt(total);
    const double largest = largest_at_or_below(pr, nnz, threshold);
    if (largest == INF || largest == 0.0) return std::sqrt(total);
    return scaled_norm(pr, nnz, threshold, largest);
}
