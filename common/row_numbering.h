// The rows of a sparse matrix that hold stored entries, numbered 0, 1, ... in increasing row
// order, so that row sums take memory and time in proportion to the stored entries however many
// rows the matrix has.
#pragma once

#include <cstdint>

// Writes the number of the row of each stored entry, ir[0 .. nnz-1], into row_of[0 .. nnz-1] and
// returns how many rows hold entries. order and spare are scratch of nnz entries each. Runs a
// stable radix sort of the positions by row: a few passes over the entries, whatever the rows.
uint64_t number_occupied_rows(const uint64_t* ir, uint64_t nnz, uint64_t nrows, uint64_t* row_of,
                              uint64_t* order, uint64_t* spare);
