// B, the filtered copy of A, created through the host: every entry of A above a threshold (NaN
// entries always), in A's order, with A's size.
#pragma once

#include "csc_view.h"
#include "host_api.h"

#include <cstdint>

// A new nrows-by-ncols sparse matrix with room for `capacity` entries (at least 1: a capacity of
// 0 is not relied on with any host) and no stored entry yet.
mxArray* create_filtered(const CscView& a, uint64_t capacity);

// Copies A's entries above threshold into b (made by create_filtered with that capacity, which
// is at least the number kept) and sets its column pointers. Where the capacity may exceed the
// number kept (exact false), b's arrays are then shrunk to it. Copies nothing when capacity
// is 0: every entry is known to be dropped.
void fill_filtered(mxArray* b, const CscView& a, double threshold, uint64_t capacity, bool exact);
