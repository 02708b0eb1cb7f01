// The ladder of candidate thresholds: the bounds settle all but a short run of rungs whose
// approximate sums lie within the bound of tol, and exact sums settle those.
#include "drop_internal.h"

Ladder climb(uint64_t* bits, double* sum, uint64_t n, double base, const Scale& s)
{
    Ladder ladder = {bits, sum, 0};
    double running = base;
    for (uint64_t i = 0; i < n; ++i) {
        running += scaled_term(bits_to_double(bits[i]), s);
        if (i + 1 < n && bits[i + 1] == bits[i]) continue;
        bits[ladder.n] = bits[i];
        sum[ladder.n] = running;
        ++ladder.n;
    }
    return ladder;
}

// The sums only rise along the ladder, and both bounds are monotone in the sum: the rungs that
// surely fit come first and those that surely exceed last.
void close_rungs(const Ladder& ladder, const Scale& s, uint64_t* first, uint64_t* last)
{
    uint64_t i = 0;
    while (i < ladder.n && surely_fits(ladder.sum[i], s)) ++i;
    *first = i;
    while (i < ladder.n && !surely_exceeds(ladder.sum[i], s)) ++i;
    *last = i;
}

uint64_t first_failing_rung(const Ladder& ladder, const Scale& s, const ExactTest& exact,
                            SparsestDrop* work)
{
    uint64_t lo = 0, hi = 0;
    close_rungs(ladder, s, &lo, &hi);
    // The measure never falls as the threshold rises: the rungs that fit come before those that
    // do not, and bisection finds the first of those.
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        ++work->recounts;
        if (exact.fits(exact.context, ladder.bits[mid]))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}
