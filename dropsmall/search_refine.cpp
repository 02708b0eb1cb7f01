// Refinements of the threshold search that re-read every live candidate at a lower threshold,
// compacting the list in place and updating the dropped norm by subtraction in list order.
#include "search_internal.h"

#include "prefetch.h"

#include <algorithm>
#include <cmath>

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
    const double kept = masked(a, stays);
    if (kept > c->top) c->top = kept;
    return masked(a, !stays);
}

static inline void subtract_square_if_removed(Compaction* c, const double* pr, uint64_t r,
                                              double scale, double* x)
{
    int32_t k;
    const double a = retest(c, pr, r, &k) * scale;
    *x -= a * a;
}

static inline void subtract_if_removed(Compaction* c, const double* pr, uint64_t r, double* sum)
{
    int32_t k;
    const double a = retest(c, pr, r, &k);
    *sum -= a;
}

SearchState refine_fro(int32_t* cand, uint64_t ncand, double dropped_norm, const double* pr,
                       double threshold, double scale, double* top)
{
    Compaction c = {cand, threshold, 0, 0.0};
    // From the square of the previous norm: between rounds the Frobenius state is that norm.
    double x = dropped_norm * dropped_norm;
    uint64_t r = 0;
    for (; r + 4 <= ncand; r += 4) {
        prefetch_for_read(pr + cand[std::min(r + GATHER_AHEAD, ncand - 1)]);
        subtract_square_if_removed(&c, pr, r, scale, &x);
        subtract_square_if_removed(&c, pr, r + 1, scale, &x);
        subtract_square_if_removed(&c, pr, r + 2, scale, &x);
        subtract_square_if_removed(&c, pr, r + 3, scale, &x);
    }
    for (; r < ncand; ++r) subtract_square_if_removed(&c, pr, r, scale, &x);
    SearchState out = {};
    // No clamp: a total rounded below 0 gives a NaN norm, which ends the loop.
    out.dropped_norm = std::sqrt(x);
    out.ncand = c.w;
    *top = c.top;
    return out;
}

// Re-tests the `live` candidates of one candidate column, from list entry *r on, into its sum.
static double refine_column(Compaction* c, const double* pr, uint64_t* r, uint64_t live,
                            uint64_t ncand, double sum)
{
    const uint64_t end = *r + live;
    uint64_t q = *r;
    for (; q + 4 <= end; q += 4) {
        prefetch_for_read(pr + c->cand[std::min(q + GATHER_AHEAD, ncand - 1)]);
        subtract_if_removed(c, pr, q, &sum);
        subtract_if_removed(c, pr, q + 1, &sum);
        subtract_if_removed(c, pr, q + 2, &sum);
        subtract_if_removed(c, pr, q + 3, &sum);
    }
    for (; q < end; ++q) subtract_if_removed(c, pr, q, &sum);
    *r = end;
    return sum;
}

// Only the columns that still hold candidates are visited, so a round costs what is live, not
// the number of columns; those left without candidates leave the active list.
SearchState refine_one(int32_t* cand, ColumnSums* cols, Ranking* rank, const double* pr,
                       SearchState state, double* top)
{
    Compaction c = {cand, state.threshold, 0, 0.0};
    uint64_t r = 0, still = 0;
    for (uint64_t q = 0; q < cols->nactive; ++q) {
        const uint32_t col = cols->active[q];
        const uint64_t before = c.w;
        cols->sum[col] = refine_column(&c, pr, &r, cols->live[q], state.ncand, cols->sum[col]);
        const uint32_t left = static_cast<uint32_t>(c.w - before);
        note_change(rank, col, left < cols->live[q]);
        cols->active[still] = col;
        cols->live[still] = left;
        still += left > 0;
    }
    cols->nactive = still;
    const double best = rerank(rank, cols->sum);
    state.dropped_norm = best > cols->settled ? best : cols->settled;
    state.ncand = c.w;
    *top = c.top;
    return state;
}

// Row sums beyond the cache are asked for ahead (FAR); those that stay in it need no asking.
template <bool FAR>
static void retest_rows(Compaction* c, double* rowsum, Ranking* rank, const double* pr,
                        const uint64_t* ir, uint64_t ncand)
{
    for (uint64_t r = 0; r < ncand; ++r) {
        const int32_t far = c->cand[std::min(r + GATHER_AHEAD, ncand - 1)];
        prefetch_for_read(pr + far);
        prefetch_for_read(ir + far);
        if (FAR) {
            const int32_t next = c->cand[std::min(r + GATHERED_SCATTER_AHEAD, ncand - 1)];
            prefetch_for_update(&rowsum[ir[next]]);
        }
        const uint64_t before = c->w;
        int32_t k;
        const double a = retest(c, pr, r, &k);
        const uint64_t i = ir[k];
        rowsum[i] -= a;
        note_change(rank, i, c->w == before);
    }
}

SearchState refine_inf(int32_t* cand, double* rowsum, Ranking* rank, const double* pr,
                       const uint64_t* ir, SearchState state, double* top)
{
    Compaction c = {cand, state.threshold, 0, 0.0};
    if (state.nrows_summed > CACHED_SUMS)
        retest_rows<true>(&c, rowsum, rank, pr, ir, state.ncand);
    else
        retest_rows<false>(&c, rowsum, rank, pr, ir, state.ncand);
    state.dropped_norm = rerank(rank, rowsum);
    state.ncand = c.w;
    *top = c.top;
    return state;
}
