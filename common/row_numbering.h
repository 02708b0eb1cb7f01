// The rows of a sparse matrix that hold stored entries, numbered 0, 1, ... in increasing row
// order, so that row sums take memory and time in proportion to the stored entries however many
// rows the matrix has.
#pragma once

#include <cstdint>

// Writes the number of the row of each stored entry, ir[0 .. nnz-1], into row_of[0 .. nnz-1] and
// returns how many rows hold entries; words is scratch of nnz entries. A radix sort of one word
// per entry, its row above its position, in passes that each stream through memory whatever
// the rows: a first one into buckets by the row's top bits, the others within each bucket in
// the cache. Rows spread over more than 2^(75 - bits of nnz) take passes that read each row
// through its position instead.
uint64_t number_occupied_rows(const uint64_t* ir, uint64_t nnz, uint64_t* row_of, uint64_t* words);
