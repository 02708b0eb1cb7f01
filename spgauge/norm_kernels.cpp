#include "norm_kernels.h"

#include "csc_view.h"
#include "host_api.h"

#include <cmath>
#include <limits>

// Below this total some squares may have lost bits to gradual underflow.
static const double SMALLEST_TRUSTED_TOTAL = 0x1p-969;

// One running total of pr[k] * pr[k]; unrolled by four, the additions still in position order.
static double sum_of_squares(const double* pr, uint64_t nnz)
{
    double total = 0.0;
    uint64_t k = 0;
    for (; k + 4 <= nnz; k += 4) {
        total += pr[k] * pr[k];
        total += pr[k + 1] * pr[k + 1];
        total += pr[k + 2] * pr[k + 2];
        total += pr[k + 3] * pr[k + 3];
    }
    for (; k < nnz; ++k) total += pr[k] * pr[k];
    return total;
}

static double largest_magnitude(const double* pr, uint64_t nnz)
{
    double best = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (a > best) best = a;
    }
    return best;
}

static bool all_finite(const double* pr, uint64_t nnz)
{
    for (uint64_t k = 0; k < nnz; ++k)
        if (!std::isfinite(pr[k])) return false;
    return true;
}

// The 2-norm with every value scaled by the power of two that brings the largest magnitude
// into [1, 2): scaling by a power of two is exact, so the squares neither overflow nor lose
// bits to underflow. Needs a nonzero, finite largest magnitude.
static double scaled_two_norm(const double* pr, uint64_t nnz)
{
    const int e = std::ilogb(largest_magnitude(pr, nnz));
    double total = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double x = std::ldexp(pr[k], -e);
        total += x * x;
    }
    return std::ldexp(std::sqrt(total), e);
}

double frobenius_norm(const double* pr, uint64_t nnz)
{
    const double total = sum_of_squares(pr, nnz);
    if (total == std::numeric_limits<double>::infinity()) {
        if (all_finite(pr, nnz)) return scaled_two_norm(pr, nnz);
    } else if (total < SMALLEST_TRUSTED_TOTAL) {
        if (largest_magnitude(pr, nnz) > 0.0) return scaled_two_norm(pr, nnz);
    }
    return std::sqrt(total);
}

// Sum of |pr[k]| for k in [begin, end), one running total in position order.
static double magnitude_sum(const double* pr, uint64_t begin, uint64_t end)
{
    double sum = 0.0;
    uint64_t k = begin;
    for (; k + 4 <= end; k += 4) {
        sum += magnitude(pr[k]);
        sum += magnitude(pr[k + 1]);
        sum += magnitude(pr[k + 2]);
        sum += magnitude(pr[k + 3]);
    }
    for (; k < end; ++k) sum += magnitude(pr[k]);
    return sum;
}

double one_norm(const double* pr, const uint64_t* jc, uint64_t ncols)
{
    double best = 0.0;
    for (uint64_t j = 0; j < ncols; ++j) {
        const double sum = magnitude_sum(pr, jc[j], jc[j + 1]);
        if (sum > best) best = sum;  // a NaN sum never wins
    }
    return best;
}

// Adds |pr[k]| into rowsum[ir[k]] in storage order, so each row sums in order of column.
static void add_row_magnitudes(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz)
{
    uint64_t k = 0;
    for (; k + 4 <= nnz; k += 4) {
        rowsum[ir[k]] += magnitude(pr[k]);
        rowsum[ir[k + 1]] += magnitude(pr[k + 1]);
        rowsum[ir[k + 2]] += magnitude(pr[k + 2]);
        rowsum[ir[k + 3]] += magnitude(pr[k + 3]);
    }
    for (; k < nnz; ++k) rowsum[ir[k]] += magnitude(pr[k]);
}

// Strict, ordered maximum of values[0 .. n-1] starting from 0: NaNs and negatives never win.
static double largest_of(const double* values, uint64_t n)
{
    double best = 0.0;
    for (uint64_t i = 0; i < n; ++i)
        if (values[i] > best) best = values[i];
    return best;
}

double inf_norm(const double* pr, const uint64_t* ir, uint64_t nnz, uint64_t nrows)
{
    double* rowsum = static_cast<double*>(mxCalloc(nrows, sizeof(double)));
    add_row_magnitudes(rowsum, pr, ir, nnz);
    const double best = largest_of(rowsum, nrows);
    mxFree(rowsum);
    return best;
}
