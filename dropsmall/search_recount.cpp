// The dropped norm recomputed afresh from the stored entries, in storage order, to verify what
// the running sums (updated by subtraction) say about the bound.
#include "search_internal.h"

#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// Below this total some squares may have lost bits to gradual underflow.
static constexpr double SMALLEST_TRUSTED_TOTAL = 0x1p-969;

// Sum of the squares of the dropped entries in position order, unscaled.
static double dropped_square_sum(const double* pr, uint64_t nnz, double threshold)
{
    double total = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (threshold >= a) total += a * a;
    }
    return total;
}

static double largest_dropped(const double* pr, uint64_t nnz, double threshold)
{
    double best = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (threshold >= a && a > best) best = a;
    }
    return best;
}

static bool dropped_all_finite(const double* pr, uint64_t nnz, double threshold)
{
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (threshold >= a && a == INF) return false;
    }
    return true;
}

// The 2-norm of the dropped entries with each scaled by the power of two that brings the largest
// into [1, 2): exact scaling, so the squares neither overflow nor lose bits to underflow. Needs
// a nonzero, finite largest dropped magnitude.
static double scaled_dropped_norm(const double* pr, uint64_t nnz, double threshold)
{
    const int e = std::ilogb(largest_dropped(pr, nnz, threshold));
    double total = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (!(threshold >= a)) continue;
        const double x = std::ldexp(a, -e);
        total += x * x;
    }
    return std::ldexp(std::sqrt(total), e);
}

double dropped_fro_norm(const double* pr, uint64_t nnz, double threshold)
{
    const double total = dropped_square_sum(pr, nnz, threshold);
    if (total == INF) {
        if (dropped_all_finite(pr, nnz, threshold)) return scaled_dropped_norm(pr, nnz, threshold);
    } else if (total < SMALLEST_TRUSTED_TOTAL) {
        if (largest_dropped(pr, nnz, threshold) > 0.0)
            return scaled_dropped_norm(pr, nnz, threshold);
    }
    return std::sqrt(total);
}

// The other columns hold no candidate, so their dropped sums are still the first pass's.
uint64_t recount_column_sums(ColumnSums* cols, const double* pr, const uint64_t* jc,
                             double threshold)
{
    uint64_t read = 0;
    for (uint64_t c = 0; c < cols->ncolumns; ++c) {
        const uint64_t j = cols->column[c];
        double sum = 0.0;
        for (uint64_t k = jc[j]; k < jc[j + 1]; ++k) {
            const double a = magnitude(pr[k]);
            if (threshold >= a) sum += a;
        }
        cols->sum[c] = sum;
        read += jc[j + 1] - jc[j];
    }
    return read;
}

void recount_row_sums(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                      uint64_t nrows, double threshold)
{
    for (uint64_t i = 0; i < nrows; ++i) rowsum[i] = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (threshold >= a) rowsum[ir[k]] += a;
    }
}
