// The ladder of candidate thresholds: the bounds settle all but a short run of rungs whose
// approximate sums lie within the bound of tol, and exact sums settle those.
#include "drop_internal.h"

#include <cmath>

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

// Within [lo, hi), where the measure never falls, the rungs that fit come before those that do
// not: bisection finds the first of those, or hi.
static uint64_t bisect_failure(const Ladder& ladder, uint64_t lo, uint64_t hi,
                               const ExactTest& exact, SparsestDrop* work)
{
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

uint64_t first_failing_rung(const Ladder& ladder, const Scale& s, const ExactTest& exact,
                            SparsestDrop* work)
{
    uint64_t lo = 0, hi = 0;
    close_rungs(ladder, s, &lo, &hi);
    return bisect_failure(ladder, lo, hi, exact, work);
}

// The first rung in [lo, hi) whose form is at least `form`, or hi: forms only rise.
static uint64_t first_of_form(const Ladder& ladder, uint64_t lo, uint64_t hi, int form,
                              const FormOf& form_of, SparsestDrop* work)
{
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        ++work->recounts;
        if (form_of.form(form_of.context, ladder.bits[mid]) < form)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// The first failing rung of a piece [lo, hi) on which the measure never falls, or hi: a piece
// whose last rung fits fits throughout.
static uint64_t first_failure_in_piece(const Ladder& ladder, uint64_t lo, uint64_t hi,
                                       const ExactTest& exact, SparsestDrop* work)
{
    if (lo == hi) return hi;
    ++work->recounts;
    if (exact.fits(exact.context, ladder.bits[hi - 1])) return hi;
    return bisect_failure(ladder, lo, hi - 1, exact, work);
}

// The binade that scales the squares when this magnitude is the largest dropped.
static int binade_of(uint64_t bits)
{
    return std::ilogb(bits_to_double(bits));
}

// The open rungs fall into runs of one binade, each cut where the form changes (found by
// bisection, the forms only rising); each piece is settled as above, in order, until one holds
// a failure. A few exact sums per binade and form of the open rungs.
uint64_t first_failing_rung_by_pieces(const Ladder& ladder, const Scale& s,
                                      const ExactTest& exact, const FormOf& form,
                                      SparsestDrop* work)
{
    uint64_t lo = 0, hi = 0;
    close_rungs(ladder, s, &lo, &hi);
    while (lo < hi) {
        uint64_t end = lo;
        while (end < hi && binade_of(ladder.bits[end]) == binade_of(ladder.bits[lo])) ++end;
        uint64_t piece = lo;
        while (piece < end) {
            ++work->recounts;
            const int f = form.form(form.context, ladder.bits[piece]);
            const uint64_t next = first_of_form(ladder, piece + 1, end, f + 1, form, work);
            const uint64_t failing = first_failure_in_piece(ladder, piece, next, exact, work);
            if (failing < next) return failing;
            piece = next;
        }
        lo = end;
    }
    return hi;
}
