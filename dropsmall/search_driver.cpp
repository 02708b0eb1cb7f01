// The driver of the threshold search: the first pass, the rounds that lower the threshold by
// tol / norm, and the scratch they share. The check of the bound where the search ends is
// search_verify.cpp's.
#include "threshold_search.h"

#include "dropped_part.h"
#include "frobenius.h"
#include "host_api.h"
#include "host_matrix.h"
#include "search_internal.h"
#include "search_run.h"

#include <cassert>
#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// Rounds that remove nothing cost O(1) each, but a norm a few ulps above tol lowers the threshold
// by a few ulps a round, and a gap between two candidates could take some 2^52 of them. Once the
// whole search has taken idle_round_budget of them, a round that would remove nothing steps the
// threshold just below the largest live candidate instead. The budget grows with the stored
// entries, so that a small matrix never pays the million rounds a large one may: sums of decimal
// fractions often land an ulp above a tol that an exact sum would meet.
static constexpr uint64_t MAX_IDLE_ROUNDS = 1000000;
static constexpr uint64_t IDLE_ROUNDS_PER_SEARCH = 1024;

uint64_t idle_round_budget(uint64_t nnz)
{
    const uint64_t room = MAX_IDLE_ROUNDS - IDLE_ROUNDS_PER_SEARCH;
    return nnz < room ? IDLE_ROUNDS_PER_SEARCH + nnz : MAX_IDLE_ROUNDS;
}

// Re-reading the live candidates is cheapest while rounds remove many of them. Once the re-reads
// would pass this many times the first pass's candidates, the live ones are put in order of
// magnitude and each round touches only those it removes. A list already in that order but for
// a few runs orders in a pass or two: where a re-read removed fewer than one candidate in
// SPARSE_REMOVALS and the list holds at most FEW_RUNS runs, it is ordered at once.
static constexpr uint64_t REREADS_BEFORE_ORDERING = 4;
static constexpr uint64_t SPARSE_REMOVALS = 64;
static constexpr uint64_t FEW_RUNS = 4;

// Counts come from the stored entries and the columns, which the host already holds in memory,
// so no product reaches the host wrapped.
void* take_search_scratch(uint64_t count, size_t size)
{
    assert(count <= SIZE_MAX / size);
    return mxCalloc(count, size);
}

void release_search_scratch(void* block)
{
    if (block != nullptr) mxFree(block);
}

static SearchRun start_run(NormKind kind, const CscView& a, double tol, double ratio,
                           int32_t* cand)
{
    SearchRun run = {};
    run.kind = kind;
    run.a = a;
    run.tol = tol;
    run.norm_scale = 1.0;
    run.norm_tol = tol;
    run.cand = cand;
    run.ratio = ratio;
    run.idle_budget = idle_round_budget(a.nnz);
    if (kind == NORM_FRO) {
        run.state.floor = floor_fro(tol, a.nnz);
    } else if (kind == NORM_ONE) {
        run.per_sum = largest_column_count(a.jc, a.ncols);
        run.state.floor = floor_one(tol, run.per_sum);
        run.state.ncols = a.ncols;
    } else {
        run.per_sum = a.ncols < a.nnz ? a.ncols : a.nnz;
        run.state.floor = floor_inf(tol, a.ncols);
    }
    return run;
}

static void release_run(SearchRun* run)
{
    mxFree(run->cand);
    release_search_scratch(run->cols.sum);
    release_search_scratch(run->cols.column);
    release_search_scratch(run->cols.active);
    release_search_scratch(run->cols.live);
    release_search_scratch(run->rowsum);
    release_rows(run->rows);
    release_search_scratch(run->rank.tree.node);
    release_search_scratch(run->rank.changed);
}

// The tree that ranks n sums, and room to note the sums a round changes.
static void start_ranking(SearchRun* run, const double* sum, uint64_t n)
{
    Ranking* r = &run->rank;
    r->tree.n = n;
    r->tree.node = static_cast<double*>(take_search_scratch(2 * blocks_for(n) + 1, sizeof(double)));
    r->room = most_changes_noted(n);
    r->changed = static_cast<uint32_t*>(take_search_scratch(r->room + 1, sizeof(uint32_t)));
    rank_all(&r->tree, sum);
    r->updates += blocks_for(n);
}

static void first_pass_one(SearchRun* run)
{
    const uint64_t room = run->a.ncols < run->a.nnz ? run->a.ncols : run->a.nnz;
    ColumnSums* cols = &run->cols;
    cols->sum = static_cast<double*>(take_search_scratch(room, sizeof(double)));
    cols->column = static_cast<uint64_t*>(take_search_scratch(room, sizeof(uint64_t)));
    cols->active = static_cast<uint32_t*>(take_search_scratch(room, sizeof(uint32_t)));
    cols->live = static_cast<uint32_t*>(take_search_scratch(room, sizeof(uint32_t)));
    run->state = classify_one(run->cand, cols, run->a.pr, run->a.jc, run->state, &run->top);
    run->work.entries_read += run->a.nnz;
    start_ranking(run, cols->sum, cols->ncolumns);
}

void prepare_rows(SearchRun* run)
{
    run->rows = rows_to_sum(run->a);
    if (run->rows.numbered != nullptr) run->work.entries_read += run->a.nnz;
    run->rowsum = static_cast<double*>(take_search_scratch(run->rows.nrows, sizeof(double)));
    run->state.nrows_summed = run->rows.nrows;
}

static void first_pass_inf(SearchRun* run)
{
    const CscView& a = run->a;
    prepare_rows(run);
    run->state = classify_inf(run->cand, run->rowsum, a.pr, run->rows.row, a.nnz, run->state,
                              &run->top);
    run->work.entries_read += a.nnz;
    start_ranking(run, run->rowsum, run->rows.nrows);
}

static void first_pass(SearchRun* run)
{
    SearchState* st = &run->state;
    if (run->kind == NORM_FRO) {
        const SearchState r = classify_fro(run->cand, run->a.pr, run->a.nnz, st->threshold,
                                           st->floor, &run->norm_scale, &run->top);
        run->norm_tol = run->tol * run->norm_scale;
        st->dropped_norm = r.dropped_norm;
        st->ncand = r.ncand;
        st->nbelow = r.nbelow;
        run->work.entries_read += run->a.nnz;
    } else if (run->kind == NORM_ONE) {
        first_pass_one(run);
    } else {
        first_pass_inf(run);
    }
    run->first_ncand = st->ncand;
    run->history_norm = st->dropped_norm;
}

// A refinement that re-reads every live candidate.
static void scan_round(SearchRun* run)
{
    SearchState* st = &run->state;
    const uint64_t before = st->ncand;
    run->rereads += before;
    run->work.entries_read += st->ncand;
    if (run->kind == NORM_FRO) {
        const SearchState r = refine_fro(run->cand, st->ncand, st->dropped_norm, run->a.pr,
                                         st->threshold, run->norm_scale, &run->top);
        st->dropped_norm = r.dropped_norm;
        st->ncand = r.ncand;
    } else if (run->kind == NORM_ONE) {
        *st = refine_one(run->cand, &run->cols, &run->rank, run->a.pr, *st, &run->top);
    } else {
        *st = refine_inf(run->cand, run->rowsum, &run->rank, run->a.pr, run->rows.row, *st,
                         &run->top);
    }
    ++run->work.scan_rounds;
    if (!run->runs_counted && (before - st->ncand) * SPARSE_REMOVALS < before) {
        run->runs_counted = true;
        run->order_now = runs_at_most(run->cand, st->ncand, run->a.pr, FEW_RUNS);
    }
}

// Where a removal's sum is, for the rounds that take candidates by magnitude.
static SumsOf sums_of(const SearchRun* run)
{
    SumsOf s = {};
    s.scale = run->norm_scale;
    if (run->kind == NORM_ONE) {
        s.sum = run->cols.sum;
        s.cols = &run->cols;
        s.jc = run->a.jc;
        s.settled = run->cols.settled;
    } else if (run->kind == NORM_INF) {
        s.sum = run->rowsum;
        s.row = run->rows.row;
    }
    return s;
}

// A list that falls in magnitude in a few runs merges in a pass or two; any other takes the
// radix sort, whose few passes do not depend on the order it finds.
static void order_live_list(SearchRun* run)
{
    const uint64_t n = run->state.ncand;
    const double* pr = run->a.pr;
    // order_now is only ever set by finding this same list in at most FEW_RUNS runs.
    if (run->order_now || runs_at_most(run->cand, n, pr, FEW_RUNS)) {
        int32_t* spare = static_cast<int32_t*>(take_search_scratch(n, sizeof(int32_t)));
        order_runs_by_magnitude(&run->order, run->cand, spare, n, pr);
        release_search_scratch(spare);
    } else {
        OrderScratch s;
        s.key = static_cast<uint64_t*>(take_search_scratch(n, sizeof(uint64_t)));
        s.key_spare = static_cast<uint64_t*>(take_search_scratch(n, sizeof(uint64_t)));
        s.spare = static_cast<int32_t*>(take_search_scratch(n, sizeof(int32_t)));
        s.count = static_cast<uint32_t(*)[ORDER_BUCKETS]>(
            take_search_scratch(ORDER_DIGITS, sizeof(*s.count)));
        order_by_magnitude(&run->order, run->cand, s, n, pr);
        release_search_scratch(s.count);
        release_search_scratch(s.spare);
        release_search_scratch(s.key_spare);
        release_search_scratch(s.key);
    }
    run->work.entries_read += n;
}

// A refinement that takes the candidates it removes from the front of the magnitude order.
static void ordered_round(SearchRun* run)
{
    SearchState* st = &run->state;
    const uint64_t before = st->ncand;
    if (run->order.cand == nullptr) order_live_list(run);
    remove_above(&run->order, run->a.pr, sums_of(run), &run->rank, st, &run->top);
    run->work.entries_read += before - st->ncand;
    ++run->work.ordered_rounds;
}

// A refinement at a threshold below the largest live candidate: it removes at least one.
static void refining_round(SearchRun* run)
{
    const uint64_t before = run->state.ncand;
    const bool rereading_pays = !run->order_now &&
                                run->rereads + before <= REREADS_BEFORE_ORDERING * run->first_ncand;
    if (run->order.cand == nullptr && rereading_pays)
        scan_round(run);
    else
        ordered_round(run);
    assert(run->state.ncand < before);
    run->removed += before - run->state.ncand;
}

// A refinement at a threshold at or above every live candidate removes nothing: its outcome is
// what the scan would compute, without the scan. For the Frobenius norm that is the root of the
// norm's square less nothing: the norm itself while its square is a normal double, but not where
// the square is subnormal, as it can be after a recount at the search's scale.
static void idle_round(SearchRun* run)
{
    SearchState* st = &run->state;
    if (run->kind == NORM_FRO) st->dropped_norm = std::sqrt(st->dropped_norm * st->dropped_norm);
    ++run->work.idle_rounds;
}

// One round of the loop: lowers the threshold by tol / norm and refines. Returns false when the
// threshold reached the floor instead, which ends the loop.
static bool run_round(SearchRun* run)
{
    SearchState* st = &run->state;
    ++run->work.rounds;
    ++run->history_rounds;
    // Both at norm_scale, so the ratio is the same at every scale; times 1 changes no bit.
    run->ratio = st->dropped_norm / (st->threshold * run->norm_scale);
    double next = run->tol / run->ratio;
    if (!(next > st->floor)) return false;  // a NaN threshold clamps too
    const bool idle = st->ncand == 0 || next >= run->top;
    // A threshold that does not fall, or an idle round once the search has spent its budget of
    // them, could go on for ever: step just below the largest live candidate instead.
    if ((idle && run->work.idle_rounds >= run->idle_budget) || !(next < st->threshold)) {
        if (st->ncand == 0) return false;
        next = std::nextafter(run->top, -INF);
        if (!(next > st->floor)) return false;
    }
    assert(next < st->threshold);
    st->threshold = next;
    if (st->ncand == 0 || next >= run->top)
        idle_round(run);
    else
        refining_round(run);
    return true;
}

static SearchResult result_of(const SearchRun* run, SearchEnd end, double threshold)
{
    SearchResult r = run->work;
    r.threshold = threshold;
    r.ratio = run->ratio;
    r.nbelow = 0;
    r.ncand = 0;
    if (end == END_WITHIN_TOL) {
        r.nbelow = run->state.nbelow;
        r.ncand = run->state.ncand;
    }
    r.end = end;
    r.sum_updates = run->rank.updates;
    return r;
}

static SearchResult run_search(SearchRun* run, double threshold)
{
    SearchState* st = &run->state;
    // also when either is NaN
    if (!(threshold > st->floor)) return result_of(run, END_NO_PASS, verified_floor(run));
    st->threshold = threshold;
    first_pass(run);
    for (;;) {
        while (st->dropped_norm > run->norm_tol)
            if (!run_round(run)) return result_of(run, END_CLAMPED, verified_floor(run));
        if (dropped_part_within_tol(run))
            return result_of(run, END_WITHIN_TOL, st->threshold);
    }
}

SearchResult search_threshold(NormKind kind, const CscView& a, double tol, double ratio,
                              double threshold, int32_t* cand)
{
    // The gateway refuses a negative tol (it could never be met once the threshold reached the
    // floor), a kind other than the three, and more stored entries than cand can name.
    assert(tol >= 0.0 || std::isnan(tol));
    assert(kind == NORM_FRO || kind == NORM_ONE || kind == NORM_INF);
    assert(a.nnz <= static_cast<uint64_t>(INT32_MAX));
    SearchRun run = start_run(kind, a, tol, ratio, cand);
    const SearchResult result = run_search(&run, threshold);
    release_run(&run);
    return result;
}
