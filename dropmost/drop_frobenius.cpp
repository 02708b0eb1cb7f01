// The Frobenius norm's limit: one sum over the whole matrix, so its window comes from a
// histogram of every stored magnitude.
#include "drop_internal.h"

#include "frobenius.h"

#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();

// A histogram costs about three times a pass that picks entries out: where at most three in
// four stored entries can be dropped, they are picked out first and the histogram reads them
// alone.

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
// rounding could make the measure fall by an ulp (it would take tens of millions of entries
// placed for it: the forms agree but for the rounding of the sums). With tol inside this range,
// every candidate the bounds leave open has a plain total between 2^-960 and 2^1020: one form
// throughout, and bisection is exact.
static bool one_form_near(double tol)
{
    return tol >= 0x1p-480 && tol <= 0x1p510;
}

// Which form the measure takes at a candidate: 0 scaled (total below the trusted range), 1
// plain, 2 scaled (the total overflows). It only rises with the threshold.
static int frobenius_form(void* context, uint64_t bits)
{
    FrobeniusSum* f = static_cast<FrobeniusSum*>(context);
    f->work->entries_read += f->nnz;
    const double total = sum_of_scaled_squares(f->pr, f->nnz, bits_to_double(bits), 1.0);
    if (!(total < INF)) return 2;
    return total < SMALLEST_TRUSTED_TOTAL ? 0 : 1;
}

// The magnitudes of pr in [w.lo, w.hi) (at most w.count of them), in position order, their count
// in *n; those below w.lo added to below. Every magnitude is written at the next free place,
// which moves on only for those in the window, so that the loop does not branch on the values.
static double* gather_window(const double* pr, uint64_t nnz, const Window& w, uint64_t* n,
                             Below* below)
{
    double* out = static_cast<double*>(take_scratch(w.count + 1, sizeof(double)));
    uint64_t m = 0, largest = below->largest, count = below->count;
    for (uint64_t k = 0; k < nnz; ++k) {
        const uint64_t bits = magnitude_bits(pr[k]);
        const bool under = bits < w.lo;
        count += under;
        largest = under && bits > largest ? bits : largest;
        out[m] = bits_to_double(bits);
        m += bits >= w.lo && bits < w.hi;
    }
    below->largest = largest;
    below->count = count;
    *n = m;
    return out;
}

// The magnitudes below limit: how many, and the least and largest of them.
static Window candidates_below(const double* pr, uint64_t nnz, uint64_t limit)
{
    uint64_t count = 0, least = limit, largest = 0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const uint64_t bits = magnitude_bits(pr[k]);
        const bool below = bits < limit;
        count += below;
        least = below && bits < least ? bits : least;
        largest = below && bits > largest ? bits : largest;
    }
    if (count == 0) return Window{0, limit, 0.0, 0};
    return Window{least, largest + 1, 0.0, count};
}

// Where the sum of squares crosses tol: a histogram of the magnitudes at or below tol (the only
// ones that can go), then the window's magnitudes alone, in finer levels where they are many.
// The entries below the window and the window's magnitudes below the first failure make the
// dropped part; a last pass measures it.
void drop_by_frobenius(const CscView& a, double tol, SparsestDrop* found)
{
    const Scale s = scale_for(tol, true, a.nnz);
    Window w = candidates_below(a.pr, a.nnz, limit_above(tol));
    found->entries_read += a.nnz;
    ++found->passes;
    if (w.count > SORT_AT_MOST && w.count / 3 > a.nnz / 4 && w.hi - w.lo > 1) {
        w = narrow_window(a.pr, a.nnz, w, s, found);
        ++found->passes;
    }
    Below below = {0, 0};
    uint64_t nwindow = 0;
    double* window = gather_window(a.pr, a.nnz, w, &nwindow, &below);
    found->entries_read += a.nnz;
    ++found->passes;
    w.count = nwindow;
    const bool all_in_window = below.count == 0;
    const Candidates c = window_candidates(window, nwindow, w, s, found);
    double* sum = static_cast<double*>(take_scratch(c.n, sizeof(double)));
    const Ladder ladder = climb(c.bits, sum, c.n, c.window.base, s);
    FrobeniusSum f = {a.pr, a.nnz, tol, found};
    const ExactTest exact = {frobenius_fits, &f};
    const uint64_t r = one_form_near(tol) ? first_failing_rung(ladder, s, exact, found)
                                          : first_failing_rung_by_pieces(
                                                ladder, s, exact, FormOf{frobenius_form, &f}, found);
    // Past the ladder every candidate fits, and every magnitude above the last window surely
    // exceeds tol: none lies between.
    const uint64_t limit = r < ladder.n ? ladder.bits[r] : c.window.hi;
    sum_below(window, nwindow, limit, &below);
    release_scratch(sum);
    release_scratch(c.bits);
    set_below(below, found);
    // The window's magnitudes stand in position order: where every dropped entry is among them,
    // their sum is the same sequence of squares as the matrix's, and so the same bits.
    found->dropped = 0.0;
    if (below.largest == 0) {
        // nothing but zeros dropped
    } else if (all_in_window) {
        found->dropped = frobenius_norm_at_or_below(window, nwindow, found->threshold);
        found->entries_read += nwindow;
    } else {
        found->dropped = frobenius_norm_at_or_below(a.pr, a.nnz, found->threshold);
        found->entries_read += a.nnz;
        ++found->passes;
    }
    release_scratch(window);
}
