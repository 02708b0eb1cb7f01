// The limit of one column or row: the least of its magnitudes at which the sum of its values at
// or below it, in storage order, exceeds tol.
#include "drop_internal.h"

#include "dropped_part.h"

// The measures of the dropped part take the largest dropped magnitude; a limit holds back its
// own magnitude and every larger one.
static double threshold_under(uint64_t limit)
{
    return bits_to_double(limit - 1);
}

double sum_below(const double* values, uint64_t n, uint64_t limit)
{
    DroppedTally tally = {0.0, 0};
    return dropped_sum(values, 0, n, threshold_under(limit), &tally);
}

double sum_below(const double* values, uint64_t n, uint64_t limit, Below* below)
{
    DroppedTally tally = {bits_to_double(below->largest), below->count};
    const double sum = dropped_sum(values, 0, n, threshold_under(limit), &tally);
    below->largest = magnitude_bits(tally.largest);
    below->count = tally.count;
    return sum;
}

void row_sums_below(const double* pr, const uint64_t* row, uint64_t nnz, uint64_t nrows,
                    uint64_t limit, double* rowsum, Below* below)
{
    DroppedTally tally = {bits_to_double(below->largest), below->count};
    add_dropped_rows(rowsum, pr, row, nnz, nrows, threshold_under(limit), &tally);
    below->largest = magnitude_bits(tally.largest);
    below->count = tally.count;
}

void set_below(const Below& below, SparsestDrop* found)
{
    found->threshold = bits_to_double(below.largest);
    found->ndropped = below.count;
}

namespace {
struct GroupSum {
    const double* values;
    uint64_t n;
    double tol;
    SparsestDrop* work;
};
}  // namespace

static bool group_fits(void* context, uint64_t bits)
{
    GroupSum* g = static_cast<GroupSum*>(context);
    g->work->entries_read += g->n;
    return !(sum_below(g->values, g->n, bits + 1) > g->tol);
}

uint64_t group_limit(const double* values, uint64_t n, double tol, uint64_t limit,
                     SparsestDrop* work)
{
    work->entries_read += n;
    if (!(sum_below(values, n, limit) > tol)) return limit;
    return exceeding_group_limit(values, n, tol, limit, work);
}

uint64_t exceeding_group_limit(const double* values, uint64_t n, double tol, uint64_t limit,
                               SparsestDrop* work)
{
    ++work->groups_limited;
    const Scale s = scale_for(tol, false, n);
    const Candidates c = window_candidates(values, n, Window{0, limit, 0.0, n}, s, work);
    double* sum = static_cast<double*>(take_scratch(c.n, sizeof(double)));
    const Ladder ladder = climb(c.bits, sum, c.n, c.window.base, s);
    GroupSum g = {values, n, tol, work};
    const uint64_t r = first_failing_rung(ladder, s, ExactTest{group_fits, &g}, work);
    // Past the ladder: every magnitude of the window fits, so the least one above it is the
    // first that does not (there is one: the sum below limit exceeds tol).
    const uint64_t found =
        r < ladder.n ? ladder.bits[r] : least_bits_in(values, n, c.window.hi, limit);
    release_scratch(sum);
    release_scratch(c.bits);
    return found;
}
