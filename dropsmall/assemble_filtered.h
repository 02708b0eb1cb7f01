// The outputs of dropsmall, created through the host: the filtered copy of A and the ratio for
// the next call.
#pragma once

#include "csc_view.h"
#include "host_api.h"

// Stores in plhs[0] a new sparse matrix holding, in A's order, every entry of A whose magnitude
// is above threshold (NaN entries always), and in plhs[1], when the caller asked for two outputs,
// a 1-by-1 double holding ratio. nbelow and ncand are the search's reported counts: exact counts
// of the dropped entries, or both 0 when only an upper bound (nnz) on the kept entries is known.
void assemble_filtered(const CscView& a, double threshold, double ratio, uint64_t nbelow,
                       uint64_t ncand, int nlhs, mxArray* plhs[]);
