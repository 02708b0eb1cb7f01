// The largest column or row sum of the threshold search, kept in a tournament tree over blocks
// of sums. Between recounts the sums only fall, so a block may keep a rank above its sums as
// long as it cannot hold the largest: a round re-ranks only the blocks that could, often none.
#include "search_internal.h"

#include "bit_length.h"

// A sum as it ranks: NaN and negative sums as 0, since a strict scan from 0 passes them over.
static inline double rank_of(double sum)
{
    return sum > 0.0 ? sum : 0.0;
}

static inline double larger(double a, double b)
{
    return a > b ? a : b;
}

static double block_rank(const LargestSum& t, const double* sum, uint64_t b)
{
    const uint64_t end = (b + 1) * SUMS_PER_BLOCK < t.n ? (b + 1) * SUMS_PER_BLOCK : t.n;
    double best = 0.0;
    for (uint64_t i = b * SUMS_PER_BLOCK; i < end; ++i) best = larger(best, rank_of(sum[i]));
    return best;
}

uint64_t blocks_for(uint64_t n)
{
    return (n + SUMS_PER_BLOCK - 1) / SUMS_PER_BLOCK;
}

// Node i >= 2 has parent i / 2, so every leaf m .. 2m-1 reaches node 1 whatever m is.
void rank_all(LargestSum* t, const double* sum)
{
    const uint64_t m = blocks_for(t->n);
    for (uint64_t b = 0; b < m; ++b) t->node[m + b] = block_rank(*t, sum, b);
    for (uint64_t i = m - 1; i >= 1 && m > 1; --i)
        t->node[i] = larger(t->node[2 * i], t->node[2 * i + 1]);
}

static void rank_block(LargestSum* t, uint64_t b, const double* sum)
{
    uint64_t at = blocks_for(t->n) + b;
    t->node[at] = block_rank(*t, sum, b);
    for (; at > 1; at /= 2) t->node[at / 2] = larger(t->node[at], t->node[at ^ 1]);
}

void rank_one(LargestSum* t, uint64_t i, const double* sum)
{
    rank_block(t, i / SUMS_PER_BLOCK, sum);
}

double largest(const LargestSum& t)
{
    return t.n == 0 ? 0.0 : t.node[1];
}

// The block whose rank is node 1's.
static uint64_t winner(const LargestSum& t)
{
    const uint64_t m = blocks_for(t.n);
    uint64_t at = 1;
    while (at < m) at = t.node[2 * at] == t.node[at] ? 2 * at : 2 * at + 1;
    return at - m;
}

uint64_t most_changes_noted(uint64_t n)
{
    const uint64_t m = blocks_for(n);
    return m / bit_length(m | 1) + 1;
}

// Invariant between rounds: every block ranks at or above its sums, and node 1's winner ranks
// exactly at its largest sum, so node 1 is the largest sum. A fallen sum in a block ranked below
// node 1 cannot be the largest, and the block keeps its rank; a block that may hold it is
// re-ranked, and then the winner is made exact, re-ranking stale blocks until it is. Where the
// one-at-a-time work would pass m / log2 m blocks of m, ranking all afresh is cheaper.
double rerank(Ranking* r, const double* sum)
{
    LargestSum* t = &r->tree;
    const uint64_t m = blocks_for(t->n);
    const uint64_t most = r->room;
    if (r->nchanged == 0) return largest(*t);
    uint64_t ranked = 0;
    if (r->nchanged < most) {
        for (uint64_t q = 0; q < r->nchanged; ++q) {
            const uint64_t b = r->changed[q] / SUMS_PER_BLOCK;
            if (t->node[m + b] < t->node[1]) continue;
            rank_block(t, b, sum);
            ++ranked;
        }
        for (bool stale = ranked > 0; stale && ranked < most;) {
            const uint64_t w = winner(*t);
            stale = t->node[m + w] != block_rank(*t, sum, w);
            if (stale) rank_block(t, w, sum);
            ranked += stale;
        }
    }
    r->updates += ranked;
    if (r->nchanged >= most || ranked >= most) {
        rank_all(t, sum);
        r->updates += m;
    }
    r->nchanged = 0;
    return largest(*t);
}
