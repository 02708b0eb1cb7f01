// What the hardware allows for each computation, written as plainly as possible and compiled
// with the project's flags: the yardsticks the kernels are measured against.
#pragma once

#include <cstdint>

// One running sum of squares in position order, the values asked for 512 entries ahead so that
// memory does not hide the bound: the latency of one addition per entry.
double floor_sum_of_squares(const double* pr, uint64_t nnz);

// The same sum without prefetching: on a machine whose memory cannot feed one value per
// addition, this is bound by memory instead.
double floor_sum_of_squares_plain(const double* pr, uint64_t nnz);

// The same sum over the first n values (few enough to stay in the first-level cache), repeated
// until nnz squares have been added: the addition latency alone.
double floor_add_latency(const double* pr, uint64_t n, uint64_t nnz);

// Reading the values once with eight independent sums of magnitudes, prefetched: what any pass
// over pr costs at the memory's pace (not a valid norm: its order of addition differs).
double floor_read_values(const double* pr, uint64_t nnz);

// One running sum of magnitudes per column, with the strict maximum over the columns.
double floor_column_sums(const double* pr, const uint64_t* jc, uint64_t ncols);

// Zeroes rowsum (nrows doubles, already touched), adds each |pr[k]| into rowsum[ir[k]], and
// returns the strict maximum.
double floor_row_scatter(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                         uint64_t nrows);

// Copies nnz values and row indices into already touched arrays.
void floor_copy(double* pr_out, uint64_t* ir_out, const double* pr, const uint64_t* ir,
                uint64_t nnz);
