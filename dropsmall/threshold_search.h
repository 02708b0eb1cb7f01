// The threshold search of dropsmall: the largest threshold it can reach from the caller's guess
// such that the stored entries at or below it may be dropped with the chosen norm of the dropped
// part within tol. Plain functions over the arrays of a CscView; scratch comes from the host.
#pragma once

#include "csc_view.h"

#include <cstdint>

// How the search ended; the reported counts are exact only after END_WITHIN_TOL.
enum SearchEnd : int {
    END_NO_PASS = 0,     // the starting threshold was not above the floor: threshold = floor
    END_WITHIN_TOL = 1,  // the last pass left a dropped part whose recomputed norm is within tol
    END_CLAMPED = 2,     // a round reached the floor: threshold = floor
};

struct SearchResult {
    double threshold;  // final threshold
    double ratio;      // final ratio (the caller's when the loop did not run)
    uint64_t nbelow;   // entries below the floor when the counts are exact, else 0
    uint64_t ncand;    // entries between floor and threshold when exact, else 0
    SearchEnd end;
    // The work it took, for tests of cost and of warm starts.
    uint64_t rounds;          // every round of the loop, the ones that removed nothing included
    uint64_t idle_rounds;     // rounds that removed nothing
    uint64_t scan_rounds;     // rounds that re-read every live candidate
    uint64_t ordered_rounds;  // rounds that read only the candidates they removed
    uint64_t recounts;        // times the dropped norm was recomputed from the stored entries
    uint64_t entries_read;    // stored entries read by every pass, round and recount
    uint64_t sum_updates;     // column or row sums re-ranked one at a time
};

// The most rounds that remove nothing a search over nnz stored entries takes as they come:
// 1024 + nnz, at most a million. Every later one steps below the largest live candidate.
uint64_t idle_round_budget(uint64_t nnz);

// Runs the search for one kind over A. `cand` is the zero-filled candidate list of a.nnz
// (at most 2^31 - 1) signed 32-bit entries that the caller allocated with mxCalloc; the search
// releases it (mxFree) together with its own scratch before it returns. `ratio` is already 1
// when the caller gave 0. Needs tol >= 0 or NaN. A kind other than the three releases the list
// and ends the call through the host's error call.
SearchResult search_threshold(NormKind kind, const CscView& a, double tol, double ratio,
                              double threshold, int32_t* cand);
