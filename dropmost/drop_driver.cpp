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

// With tol 0 only the stored zeros fit (a sum holding a nonzero magnitude is above 0, the
// Frobenius norm too: it scales tiny squares up rather than lose them); with tol +Inf everything
// does. Either way, and without stored entries, the part is every magnitude below a limit known
// at once.
static void drop_below(NormKind kind, const CscView& a, uint64_t limit, SparsestDrop* found)
{
    Below below = {0, 0};
    sum_below(a.pr, a.nnz, limit, &below);
    set_below(below, found);
    found->entries_read += 2 * a.nnz;
    found->passes += 2;
    if (kind == NORM_FRO) {
        found->dropped = frobenius_norm_at_or_below(a.pr, a.nnz, found->threshold);
        return;
    }
    double best = 0.0;
    if (kind == NORM_ONE) {
        for (uint64_t j = 0; j < a.ncols; ++j) {
            const double sum = sum_below(a.pr + a.jc[j], a.jc[j + 1] - a.jc[j], limit);
            if (sum > best) best = sum;
        }
    } else {
        const SummedRows rows = rows_to_sum(a);
        double* rowsum = static_cast<double*>(take_scratch(rows.nrows, sizeof(double)));
        Below again = {0, 0};
        row_sums_below(a.pr, rows.row, a.nnz, rows.nrows, limit, rowsum, &again);
        best = largest_of(rowsum, rows.nrows);
        release_scratch(rowsum);
        release_rows(rows);
    }
    found->dropped = best;
}

SparsestDrop find_sparsest_drop(NormKind kind, const CscView& a, double tol)
{
    assert(tol >= 0.0);
    assert(kind == NORM_FRO || kind == NORM_ONE || kind == NORM_INF);
    SparsestDrop found = {};
    if (a.nnz == 0 || tol == INF)
        drop_below(kind, a, NO_LIMIT, &found);
    else if (tol == 0.0)
        drop_below(kind, a, 1, &found);
    else if (kind == NORM_FRO)
        drop_by_frobenius(a, tol, &found);
    else if (kind == NORM_ONE)
        drop_by_columns(a, tol, &found);
    else
        drop_by_rows(a, tol, &found);
    return found;
}
