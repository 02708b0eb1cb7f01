// The sparsest threshold drop within tol: the largest threshold t, among 0 and the magnitudes of
// A's stored entries, such that the part of A made of every stored entry of magnitude at or
// below t has a norm, measured as spgauge measures it, within tol. Plain functions over the
// arrays of a CscView; scratch comes from the host.
#pragma once

#include "csc_view.h"

#include <cstdint>

struct SparsestDrop {
    double threshold;   // 0 or a magnitude of A; every entry at or below it is dropped, NaN never
    double dropped;     // the kind's norm of the dropped part, summed in storage order
    uint64_t ndropped;  // stored entries at or below threshold
    // The work it took, for tests of cost.
    uint64_t passes;          // passes over every stored entry
    uint64_t recounts;        // exact sums in storage order that settled a close call
    uint64_t entries_read;    // stored entries read by every pass, gather and recount
    uint64_t entries_sorted;  // magnitudes sorted to find where a sum first exceeds tol
    uint64_t groups_limited;  // columns or rows whose own limit was worked out
};

// Needs tol >= 0 (not NaN) and kind one of the three; the gateway refuses the rest.
SparsestDrop find_sparsest_drop(NormKind kind, const CscView& a, double tol);
