// The part of A at or below a threshold, as dropsmall and dropmost drop it (NaN entries never),
// measured afresh from the stored entries the way spgauge measures it: every sum one running
// total in storage order. The Frobenius norm's measure is frobenius_norm_at_or_below
// (frobenius.h). Also what the measure needs to tell a threshold that breaks tol.
#pragma once

#include "csc_view.h"

#include <cstdint>

// The largest magnitude (0 when none) and the count of the entries at or below a threshold.
struct DroppedTally {
    double largest;
    uint64_t count;
};

// Sum of the magnitudes |pr[k]| <= threshold over k in [begin, end), one running total in
// position order; those entries are added to *tally.
double dropped_sum(const double* pr, uint64_t begin, uint64_t end, double threshold,
                   DroppedTally* tally);

// Adds each magnitude |pr[k]| <= threshold, k < nnz, to rowsum[row[k]] in position order (so each
// row's in order of column), and to *tally. rowsum holds nrows sums.
void add_dropped_rows(double* rowsum, const double* pr, const uint64_t* row, uint64_t nnz,
                      uint64_t nrows, double threshold, DroppedTally* tally);

// Largest dropped column sum: the 1-norm of the dropped part.
double dropped_one_norm(const CscView& a, double threshold);

// The checks of a threshold whose dropped part may break tol. Each returns threshold where the
// part is within tol, else the largest threshold that may be (below the largest dropped magnitude
// of every column, row or, for the Frobenius norm, of the whole part, that exceeds tol); every
// threshold between fails too. rowsum and rowtop: nrows doubles of scratch each; row gives each
// entry's row (below nrows).
double lower_until_columns_fit(const double* pr, const uint64_t* jc, uint64_t ncols, double tol,
                               double threshold);
double lower_until_rows_fit(double* rowsum, double* rowtop, const double* pr, const uint64_t* row,
                            uint64_t nnz, uint64_t nrows, double tol, double threshold);
double lower_until_fro_fits(const double* pr, uint64_t nnz, double tol, double threshold);
