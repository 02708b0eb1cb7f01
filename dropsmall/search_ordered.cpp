// Rounds of the threshold search that touch only the candidates they remove: the live list
// reordered by decreasing magnitude, those above a round's threshold taken from the front.
#include "search_internal.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

// Larger magnitude first; ties by position, so the order is the same on every run.
static inline bool goes_before(const double* pr, int32_t x, int32_t y)
{
    const double a = magnitude(pr[x]), b = magnitude(pr[y]);
    return a > b || (a == b && x < y);
}

// The end of the run that starts at `begin`: entries already in order.
static uint64_t end_of_run(const double* pr, const int32_t* c, uint64_t begin, uint64_t n)
{
    uint64_t e = begin + 1;
    while (e < n && !goes_before(pr, c[e], c[e - 1])) ++e;
    return e;
}

static void merge(const double* pr, const int32_t* c, uint64_t begin, uint64_t middle,
                  uint64_t end, int32_t* out)
{
    uint64_t i = begin, j = middle, w = begin;
    while (i < middle && j < end) out[w++] = goes_before(pr, c[j], c[i]) ? c[j++] : c[i++];
    while (i < middle) out[w++] = c[i++];
    while (j < end) out[w++] = c[j++];
}

// One pass merges each pair of neighbouring runs, so the passes number log2 of the runs.
// Returns where the sorted entries ended up: c or spare.
static int32_t* sort_runs(const double* pr, int32_t* c, int32_t* spare, uint64_t n)
{
    for (;;) {
        uint64_t begin = 0, runs = 0;
        while (begin < n) {
            const uint64_t middle = end_of_run(pr, c, begin, n);
            const uint64_t end = middle < n ? end_of_run(pr, c, middle, n) : n;
            merge(pr, c, begin, middle, end, spare);
            begin = end;
            ++runs;
        }
        if (runs <= 1) return spare;
        int32_t* merged = spare;
        spare = c;
        c = merged;
    }
}

bool runs_at_most(const int32_t* cand, uint64_t ncand, const double* pr, uint64_t most)
{
    uint64_t runs = 0;
    for (uint64_t begin = 0; begin < ncand && runs <= most; ++runs)
        begin = end_of_run(pr, cand, begin, ncand);
    return runs <= most;
}

static void start_order(MagnitudeOrder* order, int32_t* cand, uint64_t ncand)
{
    order->cand = cand;
    order->head = 0;
    order->n = ncand;
    order->hint = 0;
}

void order_runs_by_magnitude(MagnitudeOrder* order, int32_t* cand, int32_t* spare,
                             uint64_t ncand, const double* pr)
{
    if (ncand > 1 && sort_runs(pr, cand, spare, ncand) == spare)
        for (uint64_t r = 0; r < ncand; ++r) cand[r] = spare[r];
    start_order(order, cand, ncand);
}

// A magnitude's bits, complemented so that ascending keys are descending magnitudes: the bits of
// a non-negative double order as its value does.
static inline uint64_t descending_key(double x)
{
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return ~bits & ~(uint64_t{1} << 63);
}

static inline uint64_t digit_of(uint64_t key, unsigned d)
{
    return (key >> (d * ORDER_DIGIT_BITS)) & (ORDER_BUCKETS - 1);
}

// count[d][b]: the keys whose digit d is b, all digits counted in one read of the keys.
static void count_digits(const uint64_t* key, uint64_t n, uint32_t (*count)[ORDER_BUCKETS])
{
    for (uint64_t r = 0; r < n; ++r)
        for (unsigned d = 0; d < ORDER_DIGITS; ++d) ++count[d][digit_of(key[r], d)];
}

// One stable pass on digit d: keys and candidates move together from (key, c) to (key_to, c_to).
static void distribute(const uint64_t* key, const int32_t* c, uint64_t n, unsigned d,
                       const uint32_t* count, uint64_t* key_to, int32_t* c_to)
{
    uint64_t next[ORDER_BUCKETS];
    uint64_t at = 0;
    for (uint64_t b = 0; b < ORDER_BUCKETS; ++b) {
        next[b] = at;
        at += count[b];
    }
    for (uint64_t r = 0; r < n; ++r) {
        const uint64_t to = next[digit_of(key[r], d)]++;
        key_to[to] = key[r];
        c_to[to] = c[r];
    }
}

// A least-significant-digit radix sort, stable, so equal magnitudes keep the position order the
// list arrives in. Unlike a comparison sort it costs a few sequential passes whatever the values,
// and it never loads pr at random. Digits every key shares are skipped.
void order_by_magnitude(MagnitudeOrder* order, int32_t* cand, const OrderScratch& scratch,
                        uint64_t ncand, const double* pr)
{
    assert(std::is_sorted(cand, cand + ncand));
    if (ncand == 0) return start_order(order, cand, 0);
    static_assert(ORDER_DIGIT_BITS * ORDER_DIGITS >= 63, "the digits cover every magnitude bit");
    uint64_t* key = scratch.key;
    uint64_t* key_spare = scratch.key_spare;
    int32_t* c = cand;
    int32_t* c_spare = scratch.spare;
    for (uint64_t r = 0; r < ncand; ++r) key[r] = descending_key(magnitude(pr[cand[r]]));
    uint32_t (*count)[ORDER_BUCKETS] = scratch.count;
    std::memset(count, 0, sizeof(uint32_t) * ORDER_DIGITS * ORDER_BUCKETS);
    count_digits(key, ncand, count);
    for (unsigned d = 0; d < ORDER_DIGITS; ++d) {
        if (count[d][digit_of(key[0], d)] == ncand) continue;
        distribute(key, c, ncand, d, count[d], key_spare, c_spare);
        std::swap(key, key_spare);
        std::swap(c, c_spare);
    }
    if (c != cand)
        for (uint64_t r = 0; r < ncand; ++r) cand[r] = c[r];
    start_order(order, cand, ncand);
}

// The candidate column holding position k: the last whose column starts at or before k. The
// search gallops out from the column found last, so removals near each other in position, as
// they mostly are, cost a few steps; any other costs twice a binary search.
static uint64_t candidate_column_of(const ColumnSums& cols, const uint64_t* jc, int32_t k,
                                    uint64_t* hint)
{
    const uint64_t at = static_cast<uint64_t>(k);
    const uint64_t n = cols.ncolumns;
    auto starts_at_or_before = [&](uint64_t c) { return jc[cols.column[c]] <= at; };
    uint64_t low = *hint, high = *hint + 1;  // find starts(low) && (high == n || !starts(high))
    for (uint64_t step = 1; !starts_at_or_before(low); step *= 2) {
        high = low;
        low = low > step ? low - step : 0;
    }
    for (uint64_t step = 1; high < n && starts_at_or_before(high); step *= 2) {
        low = high;
        high = high + step < n ? high + step : n;
    }
    while (high - low > 1) {
        const uint64_t mid = low + (high - low) / 2;
        if (starts_at_or_before(mid))
            low = mid;
        else
            high = mid;
    }
    *hint = low;
    return low;
}

static uint64_t sum_index(const SumsOf& sums, int32_t k, uint64_t* hint)
{
    return sums.row != nullptr ? sums.row[k] : candidate_column_of(*sums.cols, sums.jc, k, hint);
}

// The front entries above threshold: the candidates this round removes.
static uint64_t end_of_removed(const MagnitudeOrder& order, const double* pr, double threshold)
{
    uint64_t e = order.head;
    while (e < order.n && magnitude(pr[order.cand[e]]) > threshold) ++e;
    return e;
}

static double subtract_squares(const int32_t* cand, uint64_t begin, uint64_t end,
                               const double* pr, double scale, double dropped_norm)
{
    double x = dropped_norm * dropped_norm;
    for (uint64_t q = begin; q < end; ++q) {
        const double a = magnitude(pr[cand[q]]) * scale;
        x -= a * a;
    }
    return std::sqrt(x);  // no clamp, as in the refinement that re-reads the list
}

static double subtract_from_sums(const int32_t* cand, uint64_t begin, uint64_t end,
                                 const double* pr, const SumsOf& sums, Ranking* rank,
                                 uint64_t* hint)
{
    for (uint64_t q = begin; q < end; ++q) {
        const uint64_t i = sum_index(sums, cand[q], hint);
        sums.sum[i] -= magnitude(pr[cand[q]]);
        note_change(rank, i, true);
    }
    const double best = rerank(rank, sums.sum);
    return best > sums.settled ? best : sums.settled;
}

void remove_above(MagnitudeOrder* order, const double* pr, const SumsOf& sums, Ranking* rank,
                  SearchState* state, double* top)
{
    const uint64_t begin = order->head;
    const uint64_t end = end_of_removed(*order, pr, state->threshold);
    // Position order is list order: each sum sees its subtractions as a re-read would make them.
    std::sort(order->cand + begin, order->cand + end);
    if (sums.sum == nullptr)
        state->dropped_norm =
            subtract_squares(order->cand, begin, end, pr, sums.scale, state->dropped_norm);
    else
        state->dropped_norm =
            subtract_from_sums(order->cand, begin, end, pr, sums, rank, &order->hint);
    order->head = end;
    state->ncand = order->n - end;
    *top = end < order->n ? magnitude(pr[order->cand[end]]) : 0.0;
}
