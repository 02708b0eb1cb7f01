// First passes of the threshold search: every stored entry sorted into candidate, below the
// floor or kept at the starting threshold, and the dropped norm summed in storage order.
#include "search_internal.h"

#include "frobenius.h"
#include "prefetch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

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

// Below this a magnitude's square is not a normal double.
static constexpr double LEAST_NORMAL_SQUARED = 0x1p-511;

// Classifies the entry at position k. A candidate (floor <= a <= threshold) is appended to the list
// and one strictly below the floor is counted; both give their magnitude, which is never
// negative. A kept entry (above the threshold, or NaN) gives -1.
static inline double classify_entry(FirstPass* p, const double* pr, uint64_t k)
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

// The same without a branch on the entry's class, for passes where the classes mix at
// random and a branch would be mispredicted: the position is written at the list's end always and
// the end advances only for a candidate (it never passes k). A kept entry gives +0.0, which
// leaves every sum's bits as they were.
static inline double classify_entry_unbranched(FirstPass* p, const double* pr, uint64_t k)
{
    const double a = magnitude(pr[k]);
    const bool is_cand = (p->threshold >= a) & (a >= p->floor);
    const bool is_below = p->floor > a;
    p->cand[p->ncand] = static_cast<int32_t>(k);
    p->ncand += is_cand;
    p->nbelow += is_below;
    p->nkept += !(is_cand | is_below);
    const double cand_a = masked(a, is_cand);
    if (cand_a > p->top) p->top = cand_a;
    return masked(a, is_cand | is_below);
}

// The magnitude of a dropped entry at k, or -1 for a kept one (+0.0 unbranched).
template <bool UNBRANCHED>
static inline double dropped_magnitude(FirstPass* p, const double* pr, uint64_t k)
{
    return UNBRANCHED ? classify_entry_unbranched(p, pr, k) : classify_entry(p, pr, k);
}

// Adds the square of a dropped magnitude, taken at `scale` where SCALED, and keeps the least
// nonzero one's bits less 1 (a magnitude's bits order as it does; 0 wraps to the largest).
template <bool SCALED>
static inline void add_square(double a, double scale, double* s, uint64_t* least_bits)
{
    if (!(a >= 0.0)) return;  // kept
    const double x = SCALED ? a * scale : a;
    *s += x * x;
    uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    *least_bits = std::min(*least_bits, bits - 1);
}

template <bool UNBRANCHED>
static inline void add_if_dropped(FirstPass* p, const double* pr, uint64_t k, double* sum)
{
    if (UNBRANCHED) {
        *sum += classify_entry_unbranched(p, pr, k);
    } else {
        const double a = classify_entry(p, pr, k);
        if (a >= 0.0) *sum += a;
    }
}

// Whether the first entries (up to 1024) mix dropped and kept ones so that neither is rare:
// then the class of an entry is hard to predict and the unbranched way is the faster one.
// Both give the same bits; this only chooses the loop.
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

// Returns whether a dropped magnitude squared to less than a normal double.
template <bool UNBRANCHED, bool SCALED>
static bool classify_summing_squares(FirstPass* p, const double* pr, uint64_t nnz, double scale,
                                     double* total)
{
    double s = 0.0;  // one running total in position order, each square rounded first
    uint64_t least = ~uint64_t{0};
    uint64_t k = 0;
    for (; k + 4 <= nnz; k += 4) {
        prefetch_for_read(pr + std::min(k + STREAM_AHEAD, nnz - 1));
        add_square<SCALED>(dropped_magnitude<UNBRANCHED>(p, pr, k), scale, &s, &least);
        add_square<SCALED>(dropped_magnitude<UNBRANCHED>(p, pr, k + 1), scale, &s, &least);
        add_square<SCALED>(dropped_magnitude<UNBRANCHED>(p, pr, k + 2), scale, &s, &least);
        add_square<SCALED>(dropped_magnitude<UNBRANCHED>(p, pr, k + 3), scale, &s, &least);
    }
    for (; k < nnz; ++k)
        add_square<SCALED>(dropped_magnitude<UNBRANCHED>(p, pr, k), scale, &s, &least);
    *total = s;
    uint64_t normal_squared;
    std::memcpy(&normal_squared, &LEAST_NORMAL_SQUARED, sizeof normal_squared);
    return least < normal_squared - 1;
}

template <bool UNBRANCHED>
static bool classify_summing_squares(FirstPass* p, const double* pr, uint64_t nnz, double scale,
                                     double* total)
{
    if (scale == 1.0) return classify_summing_squares<UNBRANCHED, false>(p, pr, nnz, scale, total);
    return classify_summing_squares<UNBRANCHED, true>(p, pr, nnz, scale, total);
}

// Exact at every scale: every square a normal double (or 0), the total far from overflow.
static bool squares_are_exact(double total, bool tiny)
{
    return total < 0x1p1020 && !tiny;
}

// The power of two that keeps the squares of the magnitudes at or below threshold exact; 1
// where one of them is infinite, which keeps its meaning unscaled.
static double scale_for_squares(const double* pr, uint64_t nnz, double threshold)
{
    const double largest = largest_at_or_below(pr, nnz, threshold);
    if (!(largest < std::numeric_limits<double>::infinity())) return 1.0;
    double least = largest;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (threshold >= a && a > 0.0 && a < least) least = a;
    }
    return balanced_scale(largest, least);
}

SearchState classify_fro(int32_t* cand, const double* pr, uint64_t nnz, double threshold,
                         double floor, double* scale, double* top)
{
    for (;;) {
        FirstPass p = {cand, threshold, floor, 0, 0, 0, 0.0};
        double s = 0.0;
        const bool tiny = classes_mix(pr, nnz, threshold, floor)
                              ? classify_summing_squares<true>(&p, pr, nnz, *scale, &s)
                              : classify_summing_squares<false>(&p, pr, nnz, *scale, &s);
        if (*scale == 1.0 && !squares_are_exact(s, tiny)) {
            *scale = scale_for_squares(pr, nnz, threshold);
            if (*scale != 1.0) continue;  // once more, at the scale that keeps the squares exact
        }
        SearchState out = {};
        out.dropped_norm = std::sqrt(s);
        out.ncand = p.ncand;
        out.nbelow = p.nbelow;
        *top = p.top;
        return out;
    }
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
    cols->active[c] = static_cast<uint32_t>(c);
    cols->live[c] = static_cast<uint32_t>(ncand - first);
}

template <bool UNBRANCHED>
static double classify_summing_columns(FirstPass* p, ColumnSums* cols, const double* pr,
                                   const uint64_t* jc, uint64_t ncols)
{
    double best = 0.0;
    for (uint64_t j = 0; j < ncols; ++j) {
        const uint64_t end = jc[j + 1];
        const uint64_t first = p->ncand;
        double sum = 0.0;  // one running total in storage order
        uint64_t k = jc[j];
        for (; k + 4 <= end; k += 4) {
            prefetch_for_read(pr + std::min(k + STREAM_AHEAD, jc[ncols] - 1));
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
    const uint64_t ncols = state.ncols;
    if (ncols > 0 && classes_mix(pr, jc[ncols], state.threshold, state.floor))
        state.dropped_norm = classify_summing_columns<true>(&p, cols, pr, jc, ncols);
    else
        state.dropped_norm = classify_summing_columns<false>(&p, cols, pr, jc, ncols);
    cols->nactive = cols->ncolumns;
    state.ncand = p.ncand;
    state.nbelow = p.nbelow;
    *top = p.top;
    return state;
}

// Storage order, so each row sums in order of increasing column. Row sums beyond the cache are
// asked for ahead (FAR); those that stay in it need no asking.
template <bool FAR>
static void classify_summing_rows(FirstPass* p, double* rowsum, const double* pr,
                                  const uint64_t* ir, uint64_t nnz)
{
    for (uint64_t k = 0; k < nnz; ++k) {
        if (FAR) {
            prefetch_for_read(pr + std::min(k + STREAM_AHEAD, nnz - 1));
            prefetch_for_read(ir + std::min(k + STREAM_AHEAD, nnz - 1));
            prefetch_for_update(&rowsum[ir[std::min(k + SCATTER_AHEAD, nnz - 1)]]);
        }
        const double a = classify_entry(p, pr, k);
        if (a >= 0.0) rowsum[ir[k]] += a;
    }
}

SearchState classify_inf(int32_t* cand, double* rowsum, const double* pr, const uint64_t* ir,
                         uint64_t nnz, SearchState state, double* top)
{
    FirstPass p = {cand, state.threshold, state.floor, 0, 0, 0, 0.0};
    if (state.nrows_summed > CACHED_SUMS)
        classify_summing_rows<true>(&p, rowsum, pr, ir, nnz);
    else
        classify_summing_rows<false>(&p, rowsum, pr, ir, nnz);
    state.dropped_norm = largest_of(rowsum, state.nrows_summed);
    state.ncand = p.ncand;
    state.nbelow = p.nbelow;
    *top = p.top;
    return state;
}
