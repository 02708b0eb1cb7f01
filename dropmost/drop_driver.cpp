// The sparsest drop: the limit of the kind, then the threshold, the dropped count and the dropped
// norm in one last pass.
#include "sparsest_drop.h"

#include "drop_internal.h"
#include "frobenius.h"
#include "host_matrix.h"

#include <cassert>
#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// The least magnitude whose dropped part exceeds tol. With tol 0 only zeros fit (a sum holding a
// nonzero magnitude is above 0, the Frobenius norm too: it scales tiny squares up rather than
// lose them); with tol +Inf everything does.
static uint64_t limit_of(NormKind kind, const CscView& a, double tol, SparsestDrop* work)
{
    if (a.nnz == 0 || tol == INF) return NO_LIMIT;
    if (tol == 0.0) return 1;
    if (kind == NORM_FRO) return limit_of_frobenius(a, tol, work);
    if (kind == NORM_ONE) return limit_of_columns(a, tol, work);
    return limit_of_rows(a, tol, work);
}

// The largest magnitude below limit (0 when there is none) and how many lie below it.
static void largest_below(const double* pr, uint64_t nnz, uint64_t limit, SparsestDrop* out)
{
    uint64_t largest = 0, count = 0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const uint64_t bits = magnitude_bits(pr[k]);
        const bool below = bits < limit;
        count += below;
        if (below && bits > largest) largest = bits;
    }
    out->threshold = bits_to_double(largest);
    out->ndropped = count;
}

static double dropped_one_norm(const CscView& a, uint64_t limit)
{
    double best = 0.0;
    for (uint64_t j = 0; j < a.ncols; ++j) {
        const double sum = sum_below(a.pr + a.jc[j], a.jc[j + 1] - a.jc[j], limit);
        if (sum > best) best = sum;
    }
    return best;
}

static double dropped_inf_norm(const CscView& a, uint64_t limit)
{
    const SummedRows rows = rows_to_sum(a);
    double* rowsum = static_cast<double*>(take_scratch(rows.nrows, sizeof(double)));
    row_sums_below(a.pr, rows.row, a.nnz, limit, rowsum);
    const double best = largest_of(rowsum, rows.nrows);
    release_scratch(rowsum);
    release_rows(rows);
    return best;
}

// The dropped part measured as spgauge measures it: every sum in storage order.
static double dropped_norm(NormKind kind, const CscView& a, double threshold, uint64_t limit)
{
    if (kind == NORM_FRO) return frobenius_norm_at_or_below(a.pr, a.nnz, threshold);
    if (kind == NORM_ONE) return dropped_one_norm(a, limit);
    return dropped_inf_norm(a, limit);
}

SparsestDrop find_sparsest_drop(NormKind kind, const CscView& a, double tol)
{
    assert(tol >= 0.0);
    assert(kind == NORM_FRO || kind == NORM_ONE || kind == NORM_INF);
    SparsestDrop found = {};
    const uint64_t limit = limit_of(kind, a, tol, &found);
    largest_below(a.pr, a.nnz, limit, &found);
    found.dropped = dropped_norm(kind, a, found.threshold, limit);
    found.passes += 2;
    found.entries_read += 2 * a.nnz;
    return found;
}
