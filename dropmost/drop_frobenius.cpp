// The Frobenius norm's limit: one sum over the whole matrix, so its window comes from a
// histogram of every stored magnitude.
#include "drop_internal.h"

#include "frobenius.h"

#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

namespace {
struct FrobeniusSum {
    const double* pr;
    uint64_t nnz;
    double tol;
    SparsestDrop* work;
};
}  // namespace

// The measure itself: spgauge's Frobenius norm of the entries at or below the candidate.
static bool frobenius_fits(void* context, uint64_t bits)
{
    FrobeniusSum* f = static_cast<FrobeniusSum*>(context);
    f->work->entries_read += f->nnz;
    return !(frobenius_norm_at_or_below(f->pr, f->nnz, bits_to_double(bits)) > f->tol);
}

// The measure sums the plain squares where their total is finite and at least
// SMALLEST_TRUSTED_TOTAL, and otherwise sums squares scaled by the largest value's binade. Each
// form alone never falls as the threshold rises, but where a threshold's total crosses from one
// form to the other, or the largest value moves to another binade while the squares are scaled,
// rounding can make the measure fall by a few ulps. With tol inside this range, every candidate
// the bounds leave open has a plain total between 2^-960 and 2^1020: one form throughout.
static bool one_form_near(double tol)
{
    return tol >= 0x1p-480 && tol <= 0x1p510;
}

// Which form the measure takes at a candidate: 0 scaled (total below the trusted range), 1
// plain, 2 scaled (total overflows). It never falls as the threshold rises.
static int form_at(const FrobeniusSum& f, uint64_t bits)
{
    f.work->entries_read += f.nnz;
    const double total = sum_of_scaled_squares(f.pr, f.nnz, bits_to_double(bits), 1.0);
    if (!(total < INF)) return 2;
    return total < SMALLEST_TRUSTED_TOTAL ? 0 : 1;
}

// The first rung in [lo, hi) whose form is at least `form`, by bisection; hi when none is.
static uint64_t first_of_form(const Ladder& ladder, uint64_t lo, uint64_t hi, int form,
                              FrobeniusSum* f)
{
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        ++f->work->recounts;
        if (form_at(*f, ladder.bits[mid]) < form)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// Within [lo, hi), a run of rungs on which the measure never falls: the first that fails, or hi.
static uint64_t first_failing_in_run(const Ladder& ladder, uint64_t lo, uint64_t hi,
                                     FrobeniusSum* f)
{
    if (lo == hi) return hi;
    ++f->work->recounts;
    if (frobenius_fits(f, ladder.bits[hi - 1])) return hi;
    uint64_t a = lo, b = hi - 1;  // rung hi - 1 fails
    while (a < b) {
        const uint64_t mid = a + (b - a) / 2;
        ++f->work->recounts;
        if (frobenius_fits(f, ladder.bits[mid]))
            a = mid + 1;
        else
            b = mid;
    }
    return a;
}

// Where the form can change among the open rungs, the threshold is the largest candidate below
// the first one that fails: every candidate up to it fits. The open rungs fall into runs of one
// binade of the largest value, each split where its total enters and leaves the trusted range;
// on each piece the measure never falls, so a piece whose last rung fits fits throughout, and
// bisection finds the first failure in the first piece that has one. A few exact sums per
// binade of open candidates, and those span a few binades at most.
static uint64_t first_failing_by_pieces(const Ladder& ladder, const Scale& s, FrobeniusSum* f)
{
    uint64_t lo = 0, hi = 0;
    close_rungs(ladder, s, &lo, &hi);
    while (lo < hi) {
        const int binade = std::ilogb(bits_to_double(ladder.bits[lo]));
        uint64_t end = lo;
        while (end < hi && std::ilogb(bits_to_double(ladder.bits[end])) == binade) ++end;
        const uint64_t plain = first_of_form(ladder, lo, end, 1, f);
        const uint64_t over = first_of_form(ladder, plain, end, 2, f);
        const uint64_t pieces[] = {lo, plain, over, end};
        for (int p = 0; p < 3; ++p) {
            const uint64_t failing = first_failing_in_run(ladder, pieces[p], pieces[p + 1], f);
            if (failing < pieces[p + 1]) return failing;
        }
        lo = end;
    }
    return hi;
}

uint64_t limit_of_frobenius(const CscView& a, double tol, SparsestDrop* work)
{
    const Scale s = scale_for(tol, true, a.nnz);
    ++work->passes;
    const Candidates c =
        window_candidates(a.pr, a.nnz, Window{0, NO_LIMIT, 0.0, a.nnz}, s, work);
    double* sum = static_cast<double*>(take_scratch(c.n, sizeof(double)));
    const Ladder ladder = climb(c.bits, sum, c.n, c.window.base, s);
    FrobeniusSum f = {a.pr, a.nnz, tol, work};
    const uint64_t r = one_form_near(tol)
                           ? first_failing_rung(ladder, s, ExactTest{frobenius_fits, &f}, work)
                           : first_failing_by_pieces(ladder, s, &f);
    // Past the ladder every candidate of the window fits: the least magnitude above it is the
    // first that fails, NO_LIMIT when there is none.
    uint64_t found = NO_LIMIT;
    if (r < ladder.n) {
        found = ladder.bits[r];
    } else if (c.window.hi < NO_LIMIT) {
        found = least_bits_in(a.pr, a.nnz, c.window.hi, NO_LIMIT);
        work->entries_read += a.nnz;
    }
    release_scratch(sum);
    release_scratch(c.bits);
    return found;
}
