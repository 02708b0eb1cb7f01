// The 1-norm's limit: the least of the columns' own limits.
#include "drop_internal.h"

// Columns worked out first, spread evenly over the matrix: their least limit is near the least
// of all in most matrices, so few of the other columns still exceed tol below it.
static constexpr uint64_t SAMPLED_GROUPS = 1024;

static uint64_t column_limit(const CscView& a, uint64_t j, double tol, uint64_t limit,
                             SparsestDrop* work)
{
    const uint64_t begin = a.jc[j];
    return group_limit(a.pr + begin, a.jc[j + 1] - begin, tol, limit, work);
}

uint64_t limit_of_columns(const CscView& a, double tol, SparsestDrop* work)
{
    uint64_t limit = NO_LIMIT;
    const uint64_t stride = a.ncols > SAMPLED_GROUPS ? a.ncols / SAMPLED_GROUPS : 1;
    if (stride > 1)
        for (uint64_t j = 0; j < a.ncols; j += stride) limit = column_limit(a, j, tol, limit, work);
    // A column only lowers the limit, so one pass with the limit as it stands finds the least.
    for (uint64_t j = 0; j < a.ncols; ++j) limit = column_limit(a, j, tol, limit, work);
    ++work->passes;
    return limit;
}
