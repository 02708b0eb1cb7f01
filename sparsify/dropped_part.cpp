#include "dropped_part.h"

#include "frobenius.h"
#include "prefetch.h"

#include <algorithm>

#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// An entry above the threshold adds +0.0, which leaves a sum's bits as they were, so the loops
// do not branch on the values.
double dropped_sum(const double* pr, uint64_t begin, uint64_t end, double threshold,
                   DroppedTally* tally)
{
    double sum = 0.0, largest = tally->largest;
    uint64_t count = tally->count;
    for (uint64_t k = begin; k < end; ++k) {
        const double a = magnitude(pr[k]);
        const bool dropped = threshold >= a;  // a NaN compares unordered: never dropped
        sum += masked(a, dropped);
        count += dropped;
        largest = dropped && a > largest ? a : largest;
    }
    tally->largest = largest;
    tally->count = count;
    return sum;
}

// Row sums beyond the cache are asked for SCATTER_AHEAD entries before they are added to, so
// that their misses overlap; within it the hints would only cost instructions.
template <bool FAR>
static void add_rows(double* rowsum, const double* pr, const uint64_t* row, uint64_t nnz,
                     double threshold, DroppedTally* tally)
{
    double largest = tally->largest;
    uint64_t count = tally->count;
    for (uint64_t k = 0; k < nnz; ++k) {
        if (FAR) prefetch_for_update(&rowsum[row[std::min(k + SCATTER_AHEAD, nnz - 1)]]);
        const double a = magnitude(pr[k]);
        const bool dropped = threshold >= a;
        rowsum[row[k]] += masked(a, dropped);
        count += dropped;
        largest = dropped && a > largest ? a : largest;
    }
    tally->largest = largest;
    tally->count = count;
}

void add_dropped_rows(double* rowsum, const double* pr, const uint64_t* row, uint64_t nnz,
                      uint64_t nrows, double threshold, DroppedTally* tally)
{
    if (nrows > CACHED_SUMS)
        add_rows<true>(rowsum, pr, row, nnz, threshold, tally);
    else
        add_rows<false>(rowsum, pr, row, nnz, threshold, tally);
}

double dropped_one_norm(const CscView& a, double threshold)
{
    double best = 0.0;
    DroppedTally tally = {0.0, 0};
    for (uint64_t j = 0; j < a.ncols; ++j) {
        const double sum = dropped_sum(a.pr, a.jc[j], a.jc[j + 1], threshold, &tally);
        if (sum > best) best = sum;  // a NaN sum never wins
    }
    return best;
}

// Where a column's fresh sum exceeds tol, the threshold must drop below that column's largest
// dropped magnitude; every threshold between gives that column the same sum, so it fails too.
double lower_until_columns_fit(const double* pr, const uint64_t* jc, uint64_t ncols, double tol,
                               double threshold)
{
    double next = threshold;
    for (uint64_t j = 0; j < ncols; ++j) {
        DroppedTally column = {0.0, 0};
        const double sum = dropped_sum(pr, jc[j], jc[j + 1], threshold, &column);
        const double below = std::nextafter(column.largest, -INF);
        if (sum > tol && below < next) next = below;
    }
    return next;
}

double lower_until_rows_fit(double* rowsum, double* rowtop, const double* pr, const uint64_t* row,
                            uint64_t nnz, uint64_t nrows, double tol, double threshold)
{
    for (uint64_t i = 0; i < nrows; ++i) rowsum[i] = rowtop[i] = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (!(threshold >= a)) continue;
        rowsum[row[k]] += a;
        if (a > rowtop[row[k]]) rowtop[row[k]] = a;
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
