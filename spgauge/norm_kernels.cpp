#include "norm_kernels.h"

#include "csc_view.h"
#include "frobenius.h"
#include "prefetch.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// The kernels ask for memory ahead of its use (prefetch.h): hardware prefetching alone leaves a
// sequential sum waiting on memory more often than on its additions, and leaves the scattered
// row sums of a large matrix waiting on every one.

// One running total of pr[k] * pr[k]; unrolled by four, the additions still in position order.
static double sum_of_squares(const double* pr, uint64_t nnz)
{
    double total = 0.0;
    uint64_t k = 0;
    for (; k + 4 <= nnz; k += 4) {
        prefetch_for_read(pr + std::min(k + STREAM_AHEAD, nnz - 1));
        total += pr[k] * pr[k];
        total += pr[k + 1] * pr[k + 1];
        total += pr[k + 2] * pr[k + 2];
        total += pr[k + 3] * pr[k + 3];
    }
    for (; k < nnz; ++k) total += pr[k] * pr[k];
    return total;
}

// A NaN makes the plain sum NaN, which is the norm; below SMALLEST_TRUSTED_TOTAL or past the
// largest double, the shared computation scales the values instead.
double frobenius_norm(const double* pr, uint64_t nnz)
{
    const double total = sum_of_squares(pr, nnz);
    if (std::isnan(total) || (total < INF && !(total < SMALLEST_TRUSTED_TOTAL)))
        return std::sqrt(total);
    return frobenius_norm_at_or_below(pr, nnz, INF);
}

// Sum of |pr[k]| for k in [begin, end), one running total in position order.
static double magnitude_sum(const double* pr, uint64_t begin, uint64_t end)
{
    double sum = 0.0;
    uint64_t k = begin;
    for (; k + 4 <= end; k += 4) {
        sum += magnitude(pr[k]);
        sum += magnitude(pr[k + 1]);
        sum += magnitude(pr[k + 2]);
        sum += magnitude(pr[k + 3]);
    }
    for (; k < end; ++k) sum += magnitude(pr[k]);
    return sum;
}

// |pr[b + t]| while t is inside the column of n entries that starts at b, else +0.0. The read
// stays within the group of columns (last is its last position) and is masked past the
// column's end, so nothing branches on the column's length.
static inline double magnitude_or_zero(const double* pr, uint64_t b, uint64_t n, uint64_t t,
                                       uint64_t last)
{
    return masked(magnitude(pr[std::min(b + t, last)]), t < n);
}

// The sums of magnitudes of columns j .. j + 3 side by side, into sum[0 .. 3]: four running
// totals, each added to in its own column's order, so that the additions of one column overlap
// the latency of the others' and one loop exit serves four columns. A column that runs out
// before the longest adds +0.0 in place of each missing entry, which leaves its sum unchanged
// bit for bit (a sum of magnitudes starts at +0.0 and is never -0.0). jc holds j + 5 offsets;
// last is the last position of pr.
static void four_column_sums(const double* pr, const uint64_t* jc, uint64_t j, uint64_t last,
                             double* sum)
{
    const uint64_t b0 = jc[j], b1 = jc[j + 1], b2 = jc[j + 2], b3 = jc[j + 3], e3 = jc[j + 4];
    const uint64_t n0 = b1 - b0, n1 = b2 - b1, n2 = b3 - b2, n3 = e3 - b3;
    const uint64_t shortest = std::min(std::min(n0, n1), std::min(n2, n3));
    const uint64_t longest = std::max(std::max(n0, n1), std::max(n2, n3));
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    uint64_t t = 0;
    // Four entries are taken per step: the values after this group are asked for at that pace.
    for (; t < shortest; ++t) {
        prefetch_for_read(pr + std::min(e3 + 4 * t + COLUMN_GROUP_AHEAD, last));
        s0 += magnitude(pr[b0 + t]);
        s1 += magnitude(pr[b1 + t]);
        s2 += magnitude(pr[b2 + t]);
        s3 += magnitude(pr[b3 + t]);
    }
    for (; t < longest; ++t) {  // then the group holds entries, e3 - 1 among them
        prefetch_for_read(pr + std::min(e3 + 4 * t + COLUMN_GROUP_AHEAD, last));
        s0 += magnitude_or_zero(pr, b0, n0, t, e3 - 1);
        s1 += magnitude_or_zero(pr, b1, n1, t, e3 - 1);
        s2 += magnitude_or_zero(pr, b2, n2, t, e3 - 1);
        s3 += magnitude_or_zero(pr, b3, n3, t, e3 - 1);
    }
    sum[0] = s0;
    sum[1] = s1;
    sum[2] = s2;
    sum[3] = s3;
}

// Short columns: each column's sum runs over a fixed number of steps, W, taking +0.0 past the
// column's end, so that no loop exit depends on a column's length. Columns of random lengths
// otherwise cost a mispredicted branch each, and the next column's additions cannot start
// early; with the exits fixed, the additions of several columns overlap. Blocks of
// SHORT_BLOCK columns choose W, even, from their lengths: the least W that all but a few hold
// (those few take a plain loop of their own).
static constexpr uint64_t SHORT_BLOCK = 64;
static constexpr uint64_t SHORTEST_W = 4, LONGEST_W = 16;
static constexpr uint64_t FEW_LONGER = 4;

// KEEP_FIRST[n][t]: the magnitude bits of step t's value while t < n, else none.
struct StepMasks {
    uint64_t bits[LONGEST_W + 1][LONGEST_W];
};

static constexpr StepMasks step_masks()
{
    StepMasks m = {};
    for (uint64_t n = 0; n <= LONGEST_W; ++n)
        for (uint64_t t = 0; t < LONGEST_W; ++t) m.bits[n][t] = t < n ? ~(uint64_t{1} << 63) : 0;
    return m;
}

static constexpr StepMasks KEEP_FIRST = step_masks();

// The sum of |p[0 .. n-1]| over W steps, one running total in order; p[n .. W-1] must be
// readable. Two values a load where SSE2 is at hand, one at a time otherwise.
template <uint64_t W>
static inline double padded_magnitude_sum(const double* p, uint64_t n)
{
    const uint64_t* keep = KEEP_FIRST.bits[n];
    double sum = 0.0;
#if defined(__SSE2__)
    for (uint64_t t = 0; t < W; t += 2) {
        const __m128d mask = _mm_loadu_pd(reinterpret_cast<const double*>(keep + t));
        const __m128d v = _mm_and_pd(_mm_loadu_pd(p + t), mask);
        sum += _mm_cvtsd_f64(v);
        sum += _mm_cvtsd_f64(_mm_unpackhi_pd(v, v));
    }
#else
    for (uint64_t t = 0; t < W; ++t) sum += masked(magnitude(p[t]), t < n);
#endif
    return sum;
}

template <uint64_t W>
static double largest_padded_sum(const double* pr, const uint64_t* jc, uint64_t j, uint64_t end,
                                 double best)
{
    for (; j < end; ++j) {
        const uint64_t n = jc[j + 1] - jc[j];
        const double sum = n <= W ? padded_magnitude_sum<W>(pr + jc[j], n)
                                  : magnitude_sum(pr, jc[j], jc[j + 1]);
        best = sum > best ? sum : best;  // strict and ordered: a NaN sum never wins
    }
    return best;
}

// Longer columns: four side by side, each to its own length.
static double largest_group_sum(const double* pr, const uint64_t* jc, uint64_t j, uint64_t end,
                                uint64_t last, double best)
{
    for (; j + 4 <= end; j += 4) {
        double sum[4];
        four_column_sums(pr, jc, j, last, sum);
        for (int c = 0; c < 4; ++c)
            if (sum[c] > best) best = sum[c];  // a NaN sum never wins
    }
    for (; j < end; ++j) {
        const double sum = magnitude_sum(pr, jc[j], jc[j + 1]);
        if (sum > best) best = sum;
    }
    return best;
}

// LONGER_THAN[min(n, LONGEST_W + 1)]: byte h - 1 is 1 where a column of n entries is longer
// than 2 h steps, for h = 1 .. LONGEST_W / 2. Summed over a block's columns, byte h - 1 counts
// the columns longer than 2 h: one load and one addition a column instead of a comparison for
// every candidate step count.
struct LongerTable {
    uint64_t bytes[LONGEST_W + 2];
};

static constexpr LongerTable longer_table()
{
    LongerTable t = {};
    for (uint64_t n = 0; n <= LONGEST_W + 1; ++n)
        for (uint64_t h = 1; h <= LONGEST_W / 2; ++h)
            if (n > 2 * h) t.bytes[n] |= uint64_t{1} << (8 * (h - 1));
    return t;
}

static constexpr LongerTable LONGER_THAN = longer_table();
static_assert(SHORT_BLOCK < 256 && LONGEST_W / 2 <= 8, "the census counts a block in bytes");

// The least even step count W that all but FEW_LONGER columns of the block fit in, or 0 where
// more than that are longer than LONGEST_W.
static uint64_t steps_for_block(const uint64_t* jc, uint64_t j, uint64_t end)
{
    uint64_t census = 0;
    for (; j < end; ++j)
        census += LONGER_THAN.bytes[std::min(jc[j + 1] - jc[j], LONGEST_W + 1)];
    for (uint64_t h = SHORTEST_W / 2; h <= LONGEST_W / 2; ++h)
        if (((census >> (8 * (h - 1))) & 0xff) <= FEW_LONGER) return 2 * h;
    return 0;
}

static double largest_sum_in_block(const double* pr, const uint64_t* jc, uint64_t j,
                                   uint64_t end, uint64_t steps, uint64_t last, double best)
{
    switch (steps) {
    case 4: return largest_padded_sum<4>(pr, jc, j, end, best);
    case 6: return largest_padded_sum<6>(pr, jc, j, end, best);
    case 8: return largest_padded_sum<8>(pr, jc, j, end, best);
    case 10: return largest_padded_sum<10>(pr, jc, j, end, best);
    case 12: return largest_padded_sum<12>(pr, jc, j, end, best);
    case 14: return largest_padded_sum<14>(pr, jc, j, end, best);
    case 16: return largest_padded_sum<16>(pr, jc, j, end, best);
    default: return largest_group_sum(pr, jc, j, end, last, best);
    }
}

// The padded steps read up to LONGEST_W - 1 values past a block's last column: the last
// blocks, whose reads would pass the end of pr, take the general way.
double one_norm(const double* pr, const uint64_t* jc, uint64_t ncols)
{
    const uint64_t nnz = ncols > 0 ? jc[ncols] : 0;
    double best = 0.0;
    for (uint64_t j = 0; j < ncols; j += SHORT_BLOCK) {
        const uint64_t end = std::min(j + SHORT_BLOCK, ncols);
        const uint64_t steps = jc[end] + LONGEST_W <= nnz ? steps_for_block(jc, j, end) : 0;
        best = largest_sum_in_block(pr, jc, j, end, steps, nnz - 1, best);
    }
    return best;
}

// Adds |pr[k]| into rowsum[ir[k]] in storage order, so each row sums in order of column.
// The row sums of a matrix with many rows do not stay in cache: the row sums the entries
// SCATTER_AHEAD positions on will update are asked for first, so that those misses overlap,
// and the values and row indices STREAM_AHEAD positions on before them.
static void add_row_magnitudes_far(double* rowsum, const double* pr, const uint64_t* ir,
                                   uint64_t nnz)
{
    uint64_t k = 0;
    for (; k + 4 <= nnz; k += 4) {
        prefetch_for_read(pr + std::min(k + STREAM_AHEAD, nnz - 1));
        prefetch_for_read(ir + std::min(k + STREAM_AHEAD, nnz - 1));
        const uint64_t ahead = std::min(k + SCATTER_AHEAD, nnz - 4);
        prefetch_for_update(&rowsum[ir[ahead]]);
        prefetch_for_update(&rowsum[ir[ahead + 1]]);
        prefetch_for_update(&rowsum[ir[ahead + 2]]);
        prefetch_for_update(&rowsum[ir[ahead + 3]]);
        rowsum[ir[k]] += magnitude(pr[k]);
        rowsum[ir[k + 1]] += magnitude(pr[k + 1]);
        rowsum[ir[k + 2]] += magnitude(pr[k + 2]);
        rowsum[ir[k + 3]] += magnitude(pr[k + 3]);
    }
    for (; k < nnz; ++k) rowsum[ir[k]] += magnitude(pr[k]);
}

// Row sums that stay in cache need no asking: the hints would only cost instructions.
static void add_row_magnitudes_near(double* rowsum, const double* pr, const uint64_t* ir,
                                    uint64_t nnz)
{
    uint64_t k = 0;
    for (; k + 4 <= nnz; k += 4) {
        rowsum[ir[k]] += magnitude(pr[k]);
        rowsum[ir[k + 1]] += magnitude(pr[k + 1]);
        rowsum[ir[k + 2]] += magnitude(pr[k + 2]);
        rowsum[ir[k + 3]] += magnitude(pr[k + 3]);
    }
    for (; k < nnz; ++k) rowsum[ir[k]] += magnitude(pr[k]);
}

double inf_norm(const double* pr, const uint64_t* ir, uint64_t nnz, uint64_t nrows,
                double* rowsum)
{
    if (nrows <= CACHED_SUMS)
        add_row_magnitudes_near(rowsum, pr, ir, nnz);
    else
        add_row_magnitudes_far(rowsum, pr, ir, nnz);
    return largest_of(rowsum, nrows);
}
