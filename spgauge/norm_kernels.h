// The three norms of a real sparse matrix, read from its compressed-sparse-column arrays. Every
// sum is one running total in storage order, so results are reproducible bit for bit.
#pragma once

#include <cstdint>

// Square root of the sum of squares of pr[0 .. nnz-1], summed in position order. Where that
// plain sum overflows (all values finite) or falls below 2^-969 (some value nonzero), returns
// the 2-norm computed with every value scaled by a power of two instead.
double frobenius_norm(const double* pr, uint64_t nnz);

// Largest column sum of magnitudes; jc holds ncols + 1 offsets into pr. A NaN sum never wins.
double one_norm(const double* pr, const uint64_t* jc, uint64_t ncols);

// Largest row sum of magnitudes over pr[0 .. nnz-1] with row indices ir (each below nrows).
// rowsum: nrows zero-filled doubles of the caller's, left holding each row's sum.
double inf_norm(const double* pr, const uint64_t* ir, uint64_t nnz, uint64_t nrows,
                double* rowsum);
