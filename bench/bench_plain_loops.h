// The plain loops: each computation written as plainly as possible and compiled with the
// project's flags. A second reference beside the limits of bench_floors.h, not a floor: a
// kernel may well beat them.
#pragma once

#include <cstdint>

// One running sum of squares in position order, the values asked for 512 entries ahead.
double plain_sum_of_squares(const double* pr, uint64_t nnz);

// The same sum without prefetching: where memory cannot feed one value per addition, this is
// bound by memory instead of by the addition.
double plain_sum_of_squares_unprefetched(const double* pr, uint64_t nnz);

// One running sum of magnitudes per column, with the strict maximum over the columns.
double plain_column_sums(const double* pr, const uint64_t* jc, uint64_t ncols);

// Zeroes rowsum (nrows doubles, already touched), adds each |pr[k]| into rowsum[ir[k]], and
// returns the strict maximum.
double plain_row_scatter(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                         uint64_t nrows);

// Copies nnz values and row indices into already touched arrays (memcpy).
void plain_copy(double* pr_out, uint64_t* ir_out, const double* pr, const uint64_t* ir,
                uint64_t nnz);
