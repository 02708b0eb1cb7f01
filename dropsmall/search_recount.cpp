// The dropped column and row sums recomputed afresh from the stored entries, in storage order,
// to verify what the running sums (updated by subtraction) say about the bound. The Frobenius
// norm's recount is frobenius_norm_at_or_below.
#include "search_internal.h"

#include "frobenius.h"

#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

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

// Where a column's fresh sum exceeds tol, the threshold must drop below that column's largest
// dropped magnitude; every threshold between gives that column the same sum, so it fails too.
double lower_until_columns_fit(const double* pr, const uint64_t* jc, uint64_t ncols, double tol,
                               double threshold)
{
    double next = threshold;
    for (uint64_t j = 0; j < ncols; ++j) {
        double sum = 0.0, top = 0.0;
        for (uint64_t k = jc[j]; k < jc[j + 1]; ++k) {
            const double a = magnitude(pr[k]);
            if (!(threshold >= a)) continue;
            sum += a;
            if (a > top) top = a;
        }
        if (sum > tol && std::nextafter(top, -INF) < next) next = std::nextafter(top, -INF);
    }
    return next;
}

double lower_until_rows_fit(double* rowsum, double* rowtop, const double* pr, const uint64_t* ir,
                            uint64_t nnz, uint64_t nrows, double tol, double threshold)
{
    for (uint64_t i = 0; i < nrows; ++i) rowsum[i] = rowtop[i] = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (!(threshold >= a)) continue;
        rowsum[ir[k]] += a;
        if (a > rowtop[ir[k]]) rowtop[ir[k]] = a;
    }
    double next = threshold;
    for (uint64_t i = 0; i < nrows; ++i)
        if (rowsum[i] > tol && std::nextafter(rowtop[i], -INF) < next)
            next = std::nextafter(rowtop[i], -INF);
    return next;
}

double lower_until_fro_fits(const double* pr, uint64_t nnz, double tol, double threshold)
{
    if (!(frobenius_norm_at_or_below(pr, nnz, threshold) > tol)) return threshold;
    return std::nextafter(largest_at_or_below(pr, nnz, threshold), -INF);
}
