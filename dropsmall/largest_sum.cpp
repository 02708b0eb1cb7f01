// The largest column or row sum of the threshold search, kept in a tournament tree so that a
// round re-ranks only the sums it changed.
#include "search_internal.h"

// A sum as it ranks: NaN and negative sums as 0, since a strict scan from 0 passes them over.
static inline double rank_of(double sum)
{
    return sum > 0.0 ? sum : 0.0;
}

static inline double larger(double a, double b)
{
    return a > b ? a : b;
}

// Node i >= 2 has parent i / 2, so every leaf n .. 2n-1 reaches node 1 whatever n is.
void rank_all(LargestSum* t, const double* sum)
{
    const uint64_t n = t->n;
    for (uint64_t i = 0; i < n; ++i) t->node[n + i] = rank_of(sum[i]);
    for (uint64_t i = n - 1; i >= 1 && n > 1; --i)
        t->node[i] = larger(t->node[2 * i], t->node[2 * i + 1]);
}

void rank_one(LargestSum* t, uint64_t i, double sum)
{
    uint64_t at = t->n + i;
    t->node[at] = rank_of(sum);
    for (; at > 1; at /= 2) t->node[at / 2] = larger(t->node[at], t->node[at ^ 1]);
}

double largest(const LargestSum& t)
{
    return t.n == 0 ? 0.0 : t.node[1];
}

static uint64_t bit_length(uint64_t n)
{
    uint64_t bits = 0;
    for (; n > 0; n >>= 1) ++bits;
    return bits;
}

void rerank(Ranking* r, const double* sum)
{
    const uint64_t n = r->tree.n;
    if (r->nchanged == 0) return;
    if (r->nchanged * bit_length(n) >= n) {
        rank_all(&r->tree, sum);
        r->updates += n;
    } else {
        for (uint64_t q = 0; q < r->nchanged; ++q)
            rank_one(&r->tree, r->changed[q], sum[r->changed[q]]);
        r->updates += r->nchanged;
    }
    r->nchanged = 0;
}
