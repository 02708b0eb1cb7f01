// The dropped column and row sums recomputed afresh from the stored entries, in storage order,
// to verify what the running sums (updated by subtraction) say about the bound. The Frobenius
// norm's recount is frobenius_norm_at_or_below.
#include "search_internal.h"

// The other columns hold no candidate, so their dropped sums are still the first pass's.
uint64_t recount_column_sums(ColumnSums* cols, const double* pr, const uint64_t* jc,
                             double threshold)
{
    uint64_t read = 0;
    for (uint64_t c = 0; c < cols->ncolumns; ++c) {
        const uint64_t j = cols->column[c];
        double sum = 0.0;
        for (uint64_t k = jc[j]; k < jc[j + 1]; ++k) {
            const double a = magnitude(pr[k]);
            if (threshold >= a) sum += a;
        }
        cols->sum[c] = sum;
        read += jc[j + 1] - jc[j];
    }
    return read;
}

void recount_row_sums(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                      uint64_t nrows, double threshold)
{
    for (uint64_t i = 0; i < nrows; ++i) rowsum[i] = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) {
        const double a = magnitude(pr[k]);
        if (threshold >= a) rowsum[ir[k]] += a;
    }
}
