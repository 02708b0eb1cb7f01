// The entries of A above a threshold, copied into arrays of the caller's: no host involved.
#pragma once

#include "csc_view.h"

#include <cstdint>

// One pass over A in storage order writing the entries above threshold (NaN entries always) to
// pr_out / ir_out (room for capacity entries, at least as many as are kept) and setting
// jc_out[1 .. ncols]. Returns the kept count.
uint64_t copy_filtered(const CscView& a, double threshold, uint64_t capacity, double* pr_out,
                       uint64_t* ir_out, uint64_t* jc_out);
