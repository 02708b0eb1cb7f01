// The 1-norm: the least of the columns' own limits, and the dropped part below it.
#include "drop_internal.h"

static uint64_t sampled_limit(const CscView& a, double tol, SparsestDrop* work)
{
    uint64_t limit = limit_above(tol);
    const uint64_t stride = a.ncols / SAMPLED_COLUMNS;
    if (stride < 2) return limit;  // the pass below reads every column anyway
    for (uint64_t j = 0; j < a.ncols; j += stride) {
        const uint64_t begin = a.jc[j];
        limit = group_limit(a.pr + begin, a.jc[j + 1] - begin, tol, limit, work);
    }
    return limit;
}

// The dropped sum of column j below limit, its magnitudes added to below, and the largest sum.
static void measure_column(const CscView& a, uint64_t j, uint64_t limit, Below* below,
                           double* best)
{
    const uint64_t begin = a.jc[j];
    const double sum = sum_below(a.pr + begin, a.jc[j + 1] - begin, limit, below);
    if (sum > *best) *best = sum;
}

// One pass measures every column below the limit as it stands; a column whose sum exceeds tol
// lowers the limit (a column only ever lowers it, so the pass ends with the least). What the
// pass measured up to the last lowering was measured below a higher limit: those columns are
// measured again.
void drop_by_columns(const CscView& a, double tol, SparsestDrop* found)
{
    uint64_t limit = sampled_limit(a, tol, found);
    Below below = {0, 0};
    double best = 0.0;
    uint64_t again = 0;  // columns [0, again) are measured again below the final limit
    for (uint64_t j = 0; j < a.ncols; ++j) {
        const uint64_t begin = a.jc[j], n = a.jc[j + 1] - begin;
        Below column = {0, 0};
        const double sum = sum_below(a.pr + begin, n, limit, &column);
        if (sum > tol) {
            limit = exceeding_group_limit(a.pr + begin, n, tol, limit, found);
            again = j + 1;
            below = {0, 0};
            best = 0.0;
            continue;
        }
        if (sum > best) best = sum;
        below.count += column.count;
        if (column.largest > below.largest) below.largest = column.largest;
    }
    found->entries_read += a.nnz + a.jc[again];
    found->passes += 1;
    for (uint64_t j = 0; j < again; ++j) measure_column(a, j, limit, &below, &best);
    set_below(below, found);
    found->dropped = best;
}
