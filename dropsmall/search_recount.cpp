// The dropped column and row sums recomputed afresh from the stored entries, in storage order,
// to verify what the running sums (updated by subtraction) say about the bound.
#include "search_internal.h"

#include "dropped_part.h"

// The other columns hold no candidate, so their dropped sums are still the first pass's.
uint64_t recount_column_sums(ColumnSums* cols, const double* pr, const uint64_t* jc,
                             double threshold)
{
    uint64_t read = 0;
    DroppedTally tally = {0.0, 0};
    for (uint64_t c = 0; c < cols->ncolumns; ++c) {
        const uint64_t j = cols->column[c];
        cols->sum[c] = dropped_sum(pr, jc[j], jc[j + 1], threshold, &tally);
        read += jc[j + 1] - jc[j];
    }
    return read;
}

void recount_row_sums(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                      uint64_t nrows, double threshold)
{
    for (uint64_t i = 0; i < nrows; ++i) rowsum[i] = 0.0;
    DroppedTally tally = {0.0, 0};
    add_dropped_rows(rowsum, pr, ir, nnz, threshold, &tally);
}
