// The input matrix as the host holds it: its CscView, and the rows a row-sum array is kept for.
#pragma once

#include "csc_view.h"
#include "host_api.h"

#include <cstdint>

// The view of a real double sparse matrix, read from the host once: nnz is jc[ncols].
CscView csc_view_of(const mxArray* a);

// The rows that row sums are kept for: every row, or where the rows outnumber the stored
// entries, only the rows that hold entries, numbered 0, 1, ... in row order.
struct SummedRows {
    const uint64_t* row;   // the row of each stored entry: the view's ir, or the numbered rows
    uint64_t nrows;        // how many row sums there are
    uint64_t* numbered;    // the host block of numbered rows (nnz words), or null
};

// Takes 8 bytes a stored entry from the host where it numbers the rows (and 8 more while it
// does, released before it returns); nothing in proportion to the row count.
SummedRows rows_to_sum(const CscView& a);

// Releases what rows_to_sum took from the host.
void release_rows(const SummedRows& rows);
