// Rounds of the threshold search that touch only the candidates they remove: the live ones in
// decreasing order of magnitude, those above a round's threshold taken from the front.
#include "search_internal.h"

#include <algorithm>
#include <cmath>

static bool larger_magnitude_first(const OrderedCandidate& x, const OrderedCandidate& y)
{
    // Ties by position only so that the order is the same on every run.
    return x.magnitude > y.magnitude || (x.magnitude == y.magnitude && x.k < y.k);
}

static bool position_first(const OrderedCandidate& x, const OrderedCandidate& y)
{
    return x.k < y.k;
}

// The candidate column of each live candidate: the list holds each active column's candidates
// together, in the order of cols->active.
static void fill_column_groups(OrderedCandidate* c, const ColumnSums* cols)
{
    uint64_t r = 0;
    for (uint64_t q = 0; q < cols->nactive; ++q)
        for (uint64_t t = 0; t < cols->live[q]; ++t) c[r++].group = static_cast<uint32_t>(cols->active[q]);
}

void order_by_magnitude(MagnitudeOrder* order, const int32_t* cand, uint64_t ncand,
                        const double* pr, const uint64_t* group, const ColumnSums* cols)
{
    OrderedCandidate* c = order->c;
    for (uint64_t r = 0; r < ncand; ++r) {
        const int32_t k = cand[r];
        c[r].magnitude = magnitude(pr[k]);
        c[r].k = k;
        c[r].group = group != nullptr ? static_cast<uint32_t>(group[k]) : 0;
    }
    if (cols != nullptr) fill_column_groups(c, cols);
    std::sort(c, c + ncand, larger_magnitude_first);
    order->head = 0;
    order->n = ncand;
}

// The front entries above threshold: the candidates this round removes.
static uint64_t end_of_removed(const MagnitudeOrder& order, double threshold)
{
    uint64_t e = order.head;
    while (e < order.n && order.c[e].magnitude > threshold) ++e;
    return e;
}

static double subtract_squares(const OrderedCandidate* c, uint64_t begin, uint64_t end,
                               double dropped_norm)
{
    double x = dropped_norm * dropped_norm;
    for (uint64_t q = begin; q < end; ++q) x -= c[q].magnitude * c[q].magnitude;
    return std::sqrt(x);  // no clamp, as in the refinement that re-reads the list
}

static double subtract_from_sums(const OrderedCandidate* c, uint64_t begin, uint64_t end,
                                 double* sum, Ranking* rank, double settled)
{
    for (uint64_t q = begin; q < end; ++q) {
        sum[c[q].group] -= c[q].magnitude;
        rank->changed[rank->nchanged++] = c[q].group;
    }
    rerank(rank, sum);
    const double best = largest(rank->tree);
    return best > settled ? best : settled;
}

SearchState remove_above(MagnitudeOrder* order, double* sum, Ranking* rank, double settled,
                         SearchState state, double* top)
{
    const uint64_t begin = order->head;
    const uint64_t end = end_of_removed(*order, state.threshold);
    // Position order is list order: each sum sees its subtractions as a re-read would make them.
    std::sort(order->c + begin, order->c + end, position_first);
    if (sum == nullptr)
        state.dropped_norm = subtract_squares(order->c, begin, end, state.dropped_norm);
    else
        state.dropped_norm = subtract_from_sums(order->c, begin, end, sum, rank, settled);
    order->head = end;
    state.ncand = order->n - end;
    *top = end < order->n ? order->c[end].magnitude : 0.0;
    return state;
}
