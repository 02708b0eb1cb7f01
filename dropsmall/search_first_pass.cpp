// First passes of the threshold search: every stored entry sorted into candidate, below the
// floor or kept at the starting threshold, and the dropped norm summed in storage order.
#include "search_internal.h"

#include "prefetch.h"

#include <algorithm>
#include <cmath>

// The passes are bound by memory: reads are requested this many entries ahead of their use.
static const uint64_t AHEAD = 512;

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

// Column j's dropped sum becomes a candidate column's when the column holds candidates (its
// candidates are the list entries from `first` on); otherwise it is settled for good.
static void keep_column_sum(ColumnSums* cols, uint64_t j, double sum, uint64_t first,
                            uint64_t ncand)
{
    if (ncand == first) {
        if (sum > cols->settled) cols->settled = sum;  // a NaN sum never wins
        return;
    }
    const uint64_t c = cols->ncolumns++;
    cols->sum[c] = sum;
    cols->column[c] = j;
    cols->active[c] = c;
    cols->live[c] = ncand - first;
}

template <bool UNBRANCHED>
static double sort_and_sum_columns(FirstPass* p, ColumnSums* cols, const double* pr,
                                   const uint64_t* jc, uint64_t ncols)
{
    double best = 0.0;
    for (uint64_t j = 0; j < ncols; ++j) {
        const uint64_t end = jc[j + 1];
        const uint64_t first = p->ncand;
        double sum = 0.0;  // one running total in storage order
        uint64_t k = jc[j];
        for (; k + 4 <= end; k += 4) {
            prefetch_for_read(pr + std::min(k + AHEAD, jc[ncols] - 1));
            add_if_dropped<UNBRANCHED>(p, pr, k, &sum);
            add_if_dropped<UNBRANCHED>(p, pr, k + 1, &sum);
            add_if_dropped<UNBRANCHED>(p, pr, k + 2, &sum);
            add_if_dropped<UNBRANCHED>(p, pr, k + 3, &sum);
        }
        for (; k < end; ++k) add_if_dropped<UNBRANCHED>(p, pr, k, &sum);
        if (sum > best) best = sum;  // strict and ordered: a NaN sum never wins
        keep_column_sum(cols, j, sum, first, p->ncand);
    }
    return best;
}

SearchState classify_one(int32_t* cand, ColumnSums* cols, const double* pr, const uint64_t* jc,
                         SearchState state, double* top)
{
    FirstPass p = {cand, state.threshold, state.floor, 0, 0, 0, 0.0};
    const uint64_t ncols = state.ncols_field;
    if (ncols > 0 && classes_mix(pr, jc[ncols], state.threshold, state.floor))
        state.dropped_norm = sort_and_sum_columns<true>(&p, cols, pr, jc, ncols);
    else
        state.dropped_norm = sort_and_sum_columns<false>(&p, cols, pr, jc, ncols);
    cols->nactive = cols->ncolumns;
    state.ncand = p.ncand;
    state.nbelow = p.nbelow;
    *top = p.top;
    return state;
}

SearchState classify_inf(int32_t* cand, double* rowsum, const double* pr, const uint64_t* ir,
                         SearchState state, double* top)
{
    FirstPass p = {cand, state.threshold, state.floor, 0, 0, 0, 0.0};
    // Storage order, so each row sums in order of increasing column.
    for (uint64_t k = 0; k < state.ncand; ++k) {
        prefetch_for_read(pr + std::min(k + AHEAD, state.ncand - 1));
        prefetch_for_read(ir + std::min(k + AHEAD, state.ncand - 1));
        prefetch_for_update(&rowsum[ir[std::min(k + 64, state.ncand - 1)]]);
        const double a = sort_entry(&p, pr, k);
        if (a >= 0.0) rowsum[ir[k]] += a;
    }
    // Strict and ordered from 0: a NaN or negative row sum never wins.
    double best = 0.0;
    for (uint64_t i = 0; i < state.nrows_field; ++i)
        if (rowsum[i] > best) best = rowsum[i];
    state.dropped_norm = best;
    state.ncand = p.ncand;
    state.nbelow = p.nbelow;
    *top = p.top;
    return state;
}
