// The check of where a threshold search ends: the running norm, kept by subtraction, and the
// rounded floor can each land an ulp or two above tol, so the dropped part is measured afresh
// (dropped_part.h) unless a written-out rounding bound proves it within tol.
#include "search_run.h"

#include "dropped_part.h"
#include "frobenius.h"

#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// Unit roundoff of IEEE double with rounding to nearest.
static constexpr double UNIT_ROUNDOFF = 0x1p-53;

// The other columns hold no candidate, so their dropped sums are still the first pass's.
uint64_t recount_column_sums(ColumnSums* cols, const double* pr, const uint64_t* jc,
                             double threshold)
{
    uint64_t read = 0;
    DroppedTally tally = {0.0, 0};
    for (uint64_t c = 0; c < cols->ncolumns; ++c) {
        const uint64_t j = cols->column[c];
        cols->sum[c] = dropped_sum(pr, jc[j], jc[j + 1], threshold, &tally);
        read += jc[j + 1] - jc[j];
    }
    return read;
}

void recount_row_sums(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                      uint64_t nrows, double threshold)
{
    for (uint64_t i = 0; i < nrows; ++i) rowsum[i] = 0.0;
    DroppedTally tally = {0.0, 0};
    add_dropped_rows(rowsum, pr, ir, nnz, nrows, threshold, &tally);
}

// True when rounding-error bounds prove that a recount would find the dropped norm within tol.
// With u = 2^-53 and W the larger of tol and the norm the history started from:
// - 1- and infinity norm: a column or row sum has seen at most 2 n additions and subtractions of
//   terms of size at most W (n entries per column or row), so it is off by at most 2.1 n u W,
//   and a recount of n terms adds 1.1 n u; 8 n + 64 covers both and the rounding of the test.
// - Frobenius: a square norm has seen nnz squares, nnz subtractions and about 4 roundings per
//   round, each within u W^2, and a recount adds 2 (nnz + 4) u; 8 (nnz + rounds) + 64 covers
//   these. Above 2^-400, the squares lost to underflow are far below the slack.
// Outside the ranges where the terms stay normal and finite, the recount runs.
static bool bound_proves_within_tol(const SearchRun* run)
{
    const double norm = run->state.dropped_norm;
    const double tol = run->norm_tol;
    const double start = run->history_norm;
    if (!(norm <= tol) || !(start < INF)) return false;
    const double w = start > tol ? start : tol;
    if (run->kind == NORM_FRO) {
        if (!(tol >= 0x1p-400 && w <= 0x1p400)) return false;
        const double nterms = 8.0 * static_cast<double>(run->a.nnz) +
                              8.0 * static_cast<double>(run->history_rounds) + 64.0;
        if (nterms > 0x1p49) return false;
        return norm * norm + nterms * UNIT_ROUNDOFF * w * w <= tol * tol;
    }
    if (!(tol >= 0x1p-900 && w <= 0x1p900)) return false;
    const double nterms = 8.0 * static_cast<double>(run->per_sum) + 64.0;
    return norm + nterms * UNIT_ROUNDOFF * w <= tol;
}

// Recomputes the dropped norm at the current threshold; for the 1- and infinity norms the
// column or row sums are recomputed in place and ranked again.
static double recount(SearchRun* run)
{
    const CscView& a = run->a;
    const double t = run->state.threshold;
    if (run->kind == NORM_FRO) {
        run->work.entries_read += a.nnz;
        return frobenius_norm_at_or_below(a.pr, a.nnz, t);
    }
    double settled = 0.0;
    if (run->kind == NORM_ONE) {
        run->work.entries_read += recount_column_sums(&run->cols, a.pr, a.jc, t);
        rank_all(&run->rank.tree, run->cols.sum);
        settled = run->cols.settled;
    } else {
        run->work.entries_read += a.nnz;
        recount_row_sums(run->rowsum, a.pr, run->rows.row, a.nnz, run->state.nrows_summed, t);
        rank_all(&run->rank.tree, run->rowsum);
    }
    run->rank.updates += blocks_for(run->rank.tree.n);
    const double best = largest(run->rank.tree);
    return best > settled ? best : settled;
}

// Called when the loop has ended on a norm within tol or NaN. The running norm, updated by
// subtraction, can have lost the small entries to the rounding of large ones: a recount decides.
// When it finds the bound broken, its values become the state and the loop goes on.
bool dropped_part_within_tol(SearchRun* run)
{
    SearchState* st = &run->state;
    if (run->recount_failed && run->failed_removed == run->removed) {
        // Nothing removed since that recount: it would find the same norm. The 1- and
        // infinity-norm sums still hold its values.
        st->dropped_norm = run->failed_norm;
        return false;
    }
    if (bound_proves_within_tol(run)) return true;
    const double norm = recount(run);
    ++run->work.recounts;
    if (norm <= run->tol) return true;
    st->dropped_norm = norm * run->norm_scale;
    run->recount_failed = true;
    run->failed_removed = run->removed;
    run->failed_norm = st->dropped_norm;
    run->history_norm = st->dropped_norm;
    run->history_rounds = 0;
    return false;
}

// Rules that prove the floor keeps the dropped part within tol without a recount: a tol of 0
// drops only zeros and a NaN tol nothing; an infinite floor comes of a count of 0, so nothing is
// stored; and a column or row of at most two entries, each at most tol / 2 (the floor divides
// by at least two, rounded down where it matters), sums to at most tol however it rounds.
static bool floor_proves_within_tol(const SearchRun* run)
{
    if (!(run->tol > 0.0) || !(run->state.floor < INF)) return true;
    return run->kind != NORM_FRO && run->per_sum <= 2;
}

static double lower_until_fits(SearchRun* run, double t)
{
    const CscView& a = run->a;
    run->work.entries_read += a.nnz;
    if (run->kind == NORM_FRO) return lower_until_fro_fits(a.pr, a.nnz, run->tol, t);
    if (run->kind == NORM_ONE) return lower_until_columns_fit(a.pr, a.jc, a.ncols, run->tol, t);
    if (run->rowsum == nullptr) prepare_rows(run);
    const uint64_t nrows = run->state.nrows_summed;
    double* rowtop = static_cast<double*>(take_search_scratch(nrows, sizeof(double)));
    t = lower_until_rows_fit(run->rowsum, rowtop, a.pr, run->rows.row, a.nnz, nrows, run->tol, t);
    release_search_scratch(rowtop);
    return t;
}

// The threshold of a search that ended at the floor: the floor itself where the dropped part's
// recount is within tol, else the largest threshold below it where the recount is.
double verified_floor(SearchRun* run)
{
    double t = run->state.floor;
    if (floor_proves_within_tol(run)) return t;
    for (;;) {
        const double next = lower_until_fits(run, t);
        ++run->work.recounts;
        if (!(next < t)) return t;
        t = next;
    }
}
