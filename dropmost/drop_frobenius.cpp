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

uint64_t limit_of_frobenius(const CscView& a, double tol, SparsestDrop* work)
{
    const Scale s = scale_for(tol, true, a.nnz);
    ++work->passes;
    const Candidates c =
        window_candidates(a.pr, a.nnz, Window{0, NO_LIMIT, 0.0, a.nnz}, s, work);
    double* sum = static_cast<double*>(take_scratch(c.n, sizeof(double)));
    const Ladder ladder = climb(c.bits, sum, c.n, c.window.base, s);
    FrobeniusSum f = {a.pr, a.nnz, tol, work};
    const ExactTest exact = {frobenius_fits, &f};
    const uint64_t r = one_form_near(tol) ? first_failing_rung(ladder, s, exact, work)
                                          : first_failing_rung_by_pieces(
                                                ladder, s, exact, FormOf{frobenius_form, &f}, work);
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
