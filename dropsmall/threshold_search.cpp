#include "threshold_search.h"

#include "host_api.h"
#include "prefetch.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// A round whose threshold would be the next in such a run to remove nothing moves the threshold
// just below the largest live candidate instead, so every search ends.
static constexpr uint64_t MAX_IDLE_ROUNDS = 1000000;

// Below this total some squares may have lost bits to gradual underflow.
static constexpr double SMALLEST_TRUSTED_TOTAL = 0x1p-969;

// Unit roundoff of IEEE double with rounding to nearest.
static constexpr double UNIT_ROUNDOFF = 0x1p-53;

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

// The passes are bound by memory: reads are requested this many entries ahead of their use.
static const uint64_t AHEAD = 512;

// a when keep, else +0.0, without a branch.
static inline double mask_to(double a, bool keep)
{
    uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    bits &= uint64_t{0} - static_cast<uint64_t>(keep);
    std::memcpy(&a, &bits, sizeof bits);
    return a;
}

// ---------------------------------------------------------------------------------------------
// First passes

// Running totals of a first pass at one threshold and floor.
struct FirstPass {
    int32_t* cand;
    double threshold;
    double floor;
    uint64_t ncand;
    uint64_t nbelow;
    uint64_t nkept;
    double top;  // largest candidate magnitude so far
};

// Sorts the entry at position k. A candidate (floor <= a <= threshold) is appended to the list
// and one strictly below the floor is counted; both give their magnitude, which is never
// negative. A kept entry (above the threshold, or NaN) gives -1.
static inline double sort_entry(FirstPass* p, const double* pr, uint64_t k)
{
    const double a = magnitude(pr[k]);
    if (p->threshold >= a && a >= p->floor) {
        p->cand[p->ncand++] = static_cast<int32_t>(k);
        if (a > p->top) p->top = a;
        return a;
    }
    if (p->floor > a) {
        ++p->nbelow;
        return a;
    }
    ++p->nkept;
    return -1.0;
}

// The same sort without a branch on the entry's class, for passes where the classes mix at
// random and a branch would be mispredicted: the position is written at the list's end always and
// the end advances only for a candidate (it never passes k). A kept entry gives +0.0, which
// leaves every sum's bits as they were.
static inline double sort_entry_unbranched(FirstPass* p, const double* pr, uint64_t k)
{
    const double a = magnitude(pr[k]);
    const bool is_cand = (p->threshold >= a) & (a >= p->floor);
    const bool is_below = p->floor > a;
    p->cand[p->ncand] = static_cast<int32_t>(k);
    p->ncand += is_cand;
    p->nbelow += is_below;
    p->nkept += !(is_cand | is_below);
    const double cand_a = mask_to(a, is_cand);
    if (cand_a > p->top) p->top = cand_a;
    return mask_to(a, is_cand | is_below);
}

template <bool UNBRANCHED>
static inline void add_square_if_dropped(FirstPass* p, const double* pr, uint64_t k, double* s)
{
    if (UNBRANCHED) {
        const double a = sort_entry_unbranched(p, pr, k);
        *s += a * a;
    } else {
        const double a = sort_entry(p, pr, k);
        if (a >= 0.0) *s += a * a;
    }
}

template <bool UNBRANCHED>
static inline void add_if_dropped(FirstPass* p, const double* pr, uint64_t k, double* sum)
{
    if (UNBRANCHED) {
        *sum += sort_entry_unbranched(p, pr, k);
    } else {
        const double a = sort_entry(p, pr, k);
        if (a >= 0.0) *sum += a;
    }
}

// Whether the first entries (up to 1024) mix dropped and kept ones so that neither is rare:
// then the class of an entry is hard to predict and the unbranched sort is the faster one.
// Both sorts give the same bits; this only chooses the loop.
static bool classes_mix(const double* pr, uint64_t nnz, double threshold, double floor)
{
    const uint64_t n = std::min<uint64_t>(nnz, 1024);
    uint64_t dropped = 0;
    for (uint64_t k = 0; k < n; ++k) {
        const double a = magnitude(pr[k]);
        dropped += (threshold >= a) | (floor > a);
    }
    return dropped > n / 16 && n - dropped > n / 16;
}

template <bool UNBRANCHED>
static void sort_and_sum_squares(FirstPass* p, const double* pr, uint64_t nnz, double* s)
{
    uint64_t k = 0;
    for (; k + 4 <= nnz; k += 4) {
        prefetch_for_read(pr + std::min(k + AHEAD, nnz - 1));
        add_square_if_dropped<UNBRANCHED>(p, pr, k, s);
        add_square_if_dropped<UNBRANCHED>(p, pr, k + 1, s);
        add_square_if_dropped<UNBRANCHED>(p, pr, k + 2, s);
        add_square_if_dropped<UNBRANCHED>(p, pr, k + 3, s);
    }
    for (; k < nnz; ++k) add_square_if_dropped<UNBRANCHED>(p, pr, k, s);
}

SearchState classify_fro(int32_t* cand, const double* pr, uint64_t nnz, double threshold,
                         double floor, double* top)
{
    FirstPass p = {cand, threshold, floor, 0, 0, 0, 0.0};
    double s = 0.0;  // one running total in position order, each square rounded first
    if (classes_mix(pr, nnz, threshold, floor))
        sort_and_sum_squares<true>(&p, pr, nnz, &s);
    else
        sort_and_sum_squares<false>(&p, pr, nnz, &s);
    SearchState out = {};
    out.dropped_norm = std::sqrt(s);
    out.ncand = p.ncand;
    out.nbelow = p.nbelow;
    *top = p.top;
    return out;
}

template <bool UNBRANCHED>
static double sort_and_sum_columns(FirstPass* p, int64_t* cand_ptr, double* colsum,
                                   const double* pr, const uint64_t* jc, uint64_t ncols)
{
    double best = 0.0;
    for (uint64_t j = 0; j < ncols; ++j) {
        const uint64_t end = jc[j + 1];
        uint64_t k = jc[j];
        for (; k + 4 <= end; k += 4) {
            prefetch_for_read(pr + std::min(k + AHEAD, jc[ncols] - 1));
            add_if_dropped<UNBRANCHED>(p, pr, k, &colsum[j]);
            add_if_dropped<UNBRANCHED>(p, pr, k + 1, &colsum[j]);
            add_if_dropped<UNBRANCHED>(p, pr, k + 2, &colsum[j]);
            add_if_dropped<UNBRANCHED>(p, pr, k + 3, &colsum[j]);
        }
        for (; k < end; ++k) add_if_dropped<UNBRANCHED>(p, pr, k, &colsum[j]);
        if (colsum[j] > best) best = colsum[j];  // strict and ordered: a NaN sum never wins
        // The candidates of columns 0 .. j, so column j's start where column j - 1's end.
        cand_ptr[j + 1] = static_cast<int64_t>(jc[j + 1] - p->nbelow - p->nkept);
    }
    return best;
}

SearchState classify_one(int32_t* cand, int64_t* cand_ptr, double* colsum, const double* pr,
                         const uint64_t* jc, SearchState state, double* top)
{
    FirstPass p = {cand, state.threshold, state.floor, 0, 0, 0, 0.0};
    const uint64_t ncols = state.ncols_field;
    if (ncols > 0 && classes_mix(pr, jc[ncols], state.threshold, state.floor))
        state.dropped_norm = sort_and_sum_columns<true>(&p, cand_ptr, colsum, pr, jc, ncols);
    else
        state.dropped_norm = sort_and_sum_columns<false>(&p, cand_ptr, colsum, pr, jc, ncols);
    state.ncand = p.ncand;
    state.nbelow = p.nbelow;
    *top = p.top;
    return state;
}

// Strict, ordered maximum of values[0 .. n-1] starting from 0: NaNs and negatives never win.
static double largest_of(const double* values, uint64_t n)
{
    double best = 0.0;
    for (uint64_t i = 0; i < n; ++i)
        if (values[i] > best) best = values[i];
    return best;
}

SearchState classify_inf(int32_t* cand, double* rowsum, const double* pr, const uint64_t* ir,
                         SearchState state, double* top)
{
    FirstPass p = {cand, state.threshold, state.floor, 0, 0, 0, 0.0};
    state.dropped_norm = 0.0;
    // Storage order, so each row sums in order of increasing column.
    for (uint64_t k = 0; k < state.ncand; ++k) {
        prefetch_for_read(pr + std::min(k + AHEAD, state.ncand - 1));
        prefetch_for_read(ir + std::min(k + AHEAD, state.ncand - 1));
        prefetch_for_update(&rowsum[ir[std::min(k + 64, state.ncand - 1)]]);
        const double a = sort_entry(&p, pr, k);
        if (a >= 0.0) rowsum[ir[k]] += a;
    }
    state.dropped_norm = largest_of(rowsum, state.nrows_field);
    state.ncand = p.ncand;
    state.nbelow = p.nbelow;
    *top = p.top;
    return state;
}

// ---------------------------------------------------------------------------------------------
// Refinements

// The candidate list compacted in place: entries are read in list order and those that stay are
// written back at w, which never passes the read position, so the order is kept.
struct Compaction {
    int32_t* cand;
    double threshold;
    uint64_t w;
    double top;  // largest magnitude written back so far
};


// Re-tests list entry r at the new threshold. Removals fall at random, so there is no branch:
// the candidate is written back at w always and w advances when it stays. Gives the removed
// magnitude, or +0.0 when it stays; subtracting +0.0 leaves every sum's bits as they were.
static inline double retest(Compaction* c, const double* pr, uint64_t r, int32_t* k)
{
    *k = c->cand[r];
    const double a = magnitude(pr[*k]);
    const bool stays = c->threshold >= a;
    c->cand[c->w] = *k;
    c->w += stays;
    const double kept = mask_to(a, stays);
    if (kept > c->top) c->top = kept;
    return mask_to(a, !stays);
}

static inline void subtract_square_if_removed(Compaction* c, const double* pr, uint64_t r,
                                              double* x)
{
    int32_t k;
    const double a = retest(c, pr, r, &k);
    *x -= a * a;
}

static inline void subtract_if_removed(Compaction* c, const double* pr, uint64_t r, double* sum)
{
    int32_t k;
    const double a = retest(c, pr, r, &k);
    *sum -= a;
}

SearchState refine_fro(int32_t* cand, uint64_t ncand, double dropped_norm, const double* pr,
                       double threshold, double* top)
{
    Compaction c = {cand, threshold, 0, 0.0};
    // From the square of the previous norm: between rounds the Frobenius state is that norm.
    double x = dropped_norm * dropped_norm;
    uint64_t r = 0;
    for (; r + 4 <= ncand; r += 4) {
        prefetch_for_read(pr + cand[std::min(r + 64, ncand - 1)]);
        subtract_square_if_removed(&c, pr, r, &x);
        subtract_square_if_removed(&c, pr, r + 1, &x);
        subtract_square_if_removed(&c, pr, r + 2, &x);
        subtract_square_if_removed(&c, pr, r + 3, &x);
    }
    for (; r < ncand; ++r) subtract_square_if_removed(&c, pr, r, &x);
    SearchState out = {};
    // No clamp: a total rounded below 0 gives a NaN norm, which ends the loop.
    out.dropped_norm = std::sqrt(x);
    out.ncand = c.w;
    *top = c.top;
    return out;
}

SearchState refine_one(int32_t* cand, double* colsum, int64_t* cand_ptr, const double* pr,
                       SearchState state, double* top)
{
    Compaction c = {cand, state.threshold, 0, 0.0};
    double best = 0.0;
    uint64_t r = 0;
    for (uint64_t j = 0; j < state.ncols_field; ++j) {
        // cand_ptr[j + 1] still holds where column j's candidates ended before this pass.
        const uint64_t end = static_cast<uint64_t>(cand_ptr[j + 1]);
        for (; r + 4 <= end; r += 4) {
            prefetch_for_read(pr + cand[std::min(r + 64, end - 1)]);
            subtract_if_removed(&c, pr, r, &colsum[j]);
            subtract_if_removed(&c, pr, r + 1, &colsum[j]);
            subtract_if_removed(&c, pr, r + 2, &colsum[j]);
            subtract_if_removed(&c, pr, r + 3, &colsum[j]);
        }
        for (; r < end; ++r) subtract_if_removed(&c, pr, r, &colsum[j]);
        // Every column counts, also one without candidates; a sum rounded below 0 never wins.
        if (colsum[j] > best) best = colsum[j];
        cand_ptr[j + 1] = static_cast<int64_t>(c.w);  // lowered by the removals so far
    }
    state.dropped_norm = best;
    state.ncand = c.w;
    *top = c.top;
    return state;
}

SearchState refine_inf(int32_t* cand, double* rowsum, const double* pr, const uint64_t* ir,
                       SearchState state, double* top)
{
    Compaction c = {cand, state.threshold, 0, 0.0};
    for (uint64_t r = 0; r < state.ncand; ++r) {
        const int32_t far = cand[std::min(r + 64, state.ncand - 1)];
        prefetch_for_read(pr + far);
        prefetch_for_read(ir + far);
        prefetch_for_update(&rowsum[ir[cand[std::min(r + 16, state.ncand - 1)]]]);
        int32_t k;
        const double a = retest(&c, pr, r, &k);
        rowsum[ir[k]] -= a;
    }
    state.dropped_norm = largest_of(rowsum, state.nrows_field);
    state.ncand = c.w;
    *top = c.top;
    return state;
}

// ---------------------------------------------------------------------------------------------
// The dropped norm recomputed from the stored entries

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

double dropped_col_sums(double* colsum, const double* pr, const uint64_t* jc, uint64_t ncols,
                        double threshold)
{
    double best = 0.0;
    for (uint64_t j = 0; j < ncols; ++j) {
        double sum = 0.0;
        for (uint64_t k = jc[j]; k < jc[j + 1]; ++k) {
            const double a = magnitude(pr[k]);
            if (threshold >= a) sum += a;
        }
        colsum[j] = sum;
        if (sum > best) best = sum;
    }
    return best;
}

double dropped_row_sums(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                        uint64_t nrows, double threshold)
{
    for (uint64_t i = 0; i < nrows; ++i) rowsum[i] = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (threshold >= a) rowsum[ir[k]] += a;
    }
    return largest_of(rowsum, nrows);
}

// ---------------------------------------------------------------------------------------------
// The driver

static_assert(sizeof(SearchState) == 56, "SearchState is seven 8-byte fields");

// Everything the driver carries from round to round besides the SearchState.
struct SearchRun {
    NormKind kind;
    CscView a;
    double tol;
    int32_t* cand;
    int64_t* cand_ptr;  // 1-norm: ncols + 1 column offsets into cand; else null
    double* sums;       // 1-norm: colsum, ncols doubles; infinity norm: rowsum, nrows doubles
    uint64_t per_sum;   // most entries one column (1-norm) or row (infinity norm) can hold
    SearchState state;
    double ratio;
    double top;            // largest live candidate magnitude, 0 when there is none
    uint64_t idle_rounds;  // rounds in a row that removed nothing
    uint64_t removed;      // candidates removed so far: names the dropped set at this threshold
    // The running norm's rounding history: the norm it started from (after the first pass or a
    // recount) and the rounds since. They bound its error.
    double history_norm;
    uint64_t history_rounds;
    // The last recount that found the dropped norm above tol, and the dropped set it measured.
    bool recount_failed;
    uint64_t failed_removed;
    double failed_norm;
    uint64_t scan_rounds;
    uint64_t rounds;
    uint64_t recounts;
};

// Sets up the state and takes the kind's scratch from the host, zero-filled.
static SearchRun start_run(NormKind kind, const CscView& a, double tol, double ratio,
                           int32_t* cand)
{
    SearchRun run = {};
    run.kind = kind;
    run.a = a;
    run.tol = tol;
    run.cand = cand;
    run.ratio = ratio;
    if (kind == NORM_FRO) {
        run.state.floor = floor_fro(tol, a.nnz);
    } else if (kind == NORM_ONE) {
        run.per_sum = largest_column_count(a.jc, a.ncols);
        run.state.floor = floor_one(tol, run.per_sum);
        run.cand_ptr = static_cast<int64_t*>(mxCalloc(a.ncols + 1, sizeof(int64_t)));
        run.sums = static_cast<double*>(mxCalloc(a.ncols, sizeof(double)));
        run.state.ncols_field = a.ncols;
    } else {
        run.per_sum = a.ncols < a.nnz ? a.ncols : a.nnz;
        run.state.floor = floor_inf(tol, a.ncols);
        run.sums = static_cast<double*>(mxCalloc(a.nrows, sizeof(double)));
        run.state.nrows_field = a.nrows;
    }
    return run;
}

static void release_run(SearchRun* run)
{
    mxFree(run->cand);
    if (run->cand_ptr != nullptr) mxFree(run->cand_ptr);
    if (run->sums != nullptr) mxFree(run->sums);
}

static void first_pass(SearchRun* run)
{
    SearchState* st = &run->state;
    if (run->kind == NORM_FRO) {
        const SearchState r =
            classify_fro(run->cand, run->a.pr, run->a.nnz, st->threshold, st->floor, &run->top);
        st->dropped_norm = r.dropped_norm;
        st->ncand = r.ncand;
        st->nbelow = r.nbelow;
    } else if (run->kind == NORM_ONE) {
        *st = classify_one(run->cand, run->cand_ptr, run->sums, run->a.pr, run->a.jc, *st,
                           &run->top);
    } else {
        st->ncand = run->a.nnz;  // the first pass reads it as the number of entries to scan
        *st = classify_inf(run->cand, run->sums, run->a.pr, run->a.ir, *st, &run->top);
    }
    run->history_norm = st->dropped_norm;
}

// A refinement that scans the live candidates; its threshold is below the largest of them, so
// it removes at least one.
static void scan_round(SearchRun* run)
{
    SearchState* st = &run->state;
    const uint64_t before = st->ncand;
    if (run->kind == NORM_FRO) {
        const SearchState r =
            refine_fro(run->cand, st->ncand, st->dropped_norm, run->a.pr, st->threshold, &run->top);
        st->dropped_norm = r.dropped_norm;
        st->ncand = r.ncand;
    } else if (run->kind == NORM_ONE) {
        *st = refine_one(run->cand, run->sums, run->cand_ptr, run->a.pr, *st, &run->top);
    } else {
        *st = refine_inf(run->cand, run->sums, run->a.pr, run->a.ir, *st, &run->top);
    }
    assert(st->ncand < before);
    run->removed += before - st->ncand;
    run->idle_rounds = 0;
    ++run->scan_rounds;
}

// A refinement at a threshold at or above every live candidate removes nothing: its outcome is
// what the scan would compute, without the scan.
static void idle_round(SearchRun* run)
{
    SearchState* st = &run->state;
    if (run->kind == NORM_FRO) st->dropped_norm = std::sqrt(st->dropped_norm * st->dropped_norm);
    ++run->idle_rounds;
}

// One round of the loop: lowers the threshold by tol / norm and refines. Returns false when the
// threshold reached the floor instead, which ends the loop.
static bool run_round(SearchRun* run)
{
    SearchState* st = &run->state;
    ++run->rounds;
    ++run->history_rounds;
    run->ratio = st->dropped_norm / st->threshold;
    double next = run->tol / run->ratio;
    if (!(next > st->floor)) return false;  // a NaN threshold clamps too
    const bool idle = st->ncand == 0 || next >= run->top;
    // A threshold that does not fall, or one more idle round after a long run of them, could
    // go on for ever: step just below the largest live candidate instead.
    if ((idle && run->idle_rounds == MAX_IDLE_ROUNDS) || !(next < st->threshold)) {
        if (st->ncand == 0) return false;
        next = std::nextafter(run->top, -INF);
        if (!(next > st->floor)) return false;
    }
    assert(next < st->threshold);
    st->threshold = next;
    if (st->ncand == 0 || next >= run->top)
        idle_round(run);
    else
        scan_round(run);
    return true;
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
    const double tol = run->tol;
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
// column or row sums are recomputed in place as well.
static double recount(SearchRun* run)
{
    const CscView& a = run->a;
    const double t = run->state.threshold;
    if (run->kind == NORM_FRO) return dropped_fro_norm(a.pr, a.nnz, t);
    if (run->kind == NORM_ONE) return dropped_col_sums(run->sums, a.pr, a.jc, a.ncols, t);
    return dropped_row_sums(run->sums, a.pr, a.ir, a.nnz, a.nrows, t);
}

// Called when the loop has ended on a norm within tol or NaN. The running norm, updated by
// subtraction, can have lost the small entries to the rounding of large ones: a recount decides.
// When it finds the bound broken, its values become the state and the loop goes on.
static bool dropped_part_within_tol(SearchRun* run)
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
    ++run->recounts;
    if (norm <= run->tol) return true;
    st->dropped_norm = norm;
    run->recount_failed = true;
    run->failed_removed = run->removed;
    run->failed_norm = norm;
    run->history_norm = norm;
    run->history_rounds = 0;
    return false;
}

static SearchResult result_of(const SearchRun* run, SearchEnd end)
{
    SearchResult r = {};
    r.threshold = run->state.threshold;
    r.ratio = run->ratio;
    if (end == END_WITHIN_TOL) {
        r.nbelow = run->state.nbelow;
        r.ncand = run->state.ncand;
    } else {
        r.threshold = run->state.floor;
    }
    r.scan_rounds = run->scan_rounds;
    r.rounds = run->rounds;
    r.recounts = run->recounts;
    r.end = end;
    return r;
}

static SearchResult run_search(SearchRun* run, double threshold)
{
    SearchState* st = &run->state;
    if (!(threshold > st->floor)) return result_of(run, END_NO_PASS);  // also when either is NaN
    st->threshold = threshold;
    first_pass(run);
    for (;;) {
        while (st->dropped_norm > run->tol)
            if (!run_round(run)) return result_of(run, END_CLAMPED);
        if (dropped_part_within_tol(run)) return result_of(run, END_WITHIN_TOL);
    }
}

SearchResult search_threshold(NormKind kind, const CscView& a, double tol, double ratio,
                              double threshold, int32_t* cand)
{
    // A negative tol could never be met once the threshold reached the floor.
    assert(tol >= 0.0 || std::isnan(tol));
    assert(a.nnz <= static_cast<uint64_t>(INT32_MAX));
    if (kind != NORM_FRO && kind != NORM_ONE && kind != NORM_INF) {
        mxFree(cand);
        mexErrMsgIdAndTxt("dropsmall:kind", "%s", "Only for 1-norm, inf-norm and fro-norm.");
    }
    SearchRun run = start_run(kind, a, tol, ratio, cand);
    const SearchResult result = run_search(&run, threshold);
    release_run(&run);
    return result;
}
