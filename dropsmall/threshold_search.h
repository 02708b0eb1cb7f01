// The threshold search of dropsmall: the largest threshold it can reach from the caller's guess
// such that the stored entries at or below it may be dropped with the chosen norm of the dropped
// part within tol. Plain functions over the arrays of a CscView; scratch comes from the host.
#pragma once

#include "csc_view.h"

#include <cstdint>

// The search's current position, seven 8-byte fields copied bit for bit. The 1- and
// infinity-norm passes take it by value and hand back an updated copy; the Frobenius passes
// fill only the fields they compute.
struct SearchState {
    double dropped_norm;   // chosen norm of the dropped set at the current threshold
    uint64_t ncand;        // live candidates at the front of the list; on entry to classify_inf,
                           // the number of stored entries to scan instead
    uint64_t nrows_field;  // nrows of A, read by the infinity-norm passes
    uint64_t ncols_field;  // ncols of A, read by the 1-norm passes
    double threshold;      // current threshold
    double floor;          // entries strictly below it are dropped for good
    uint64_t nbelow;       // stored entries strictly below the floor
};

// How the search ended; the reported counts are exact only after END_WITHIN_TOL.
enum SearchEnd : int {
    END_NO_PASS = 0,     // the starting threshold was not above the floor: threshold = floor
    END_WITHIN_TOL = 1,  // the last pass left a dropped part whose recomputed norm is within tol
    END_CLAMPED = 2,     // a round reached the floor: threshold = floor
};

struct SearchResult {
    double threshold;      // final threshold
    double ratio;          // final ratio (the caller's when the loop did not run)
    uint64_t nbelow;       // entries below the floor when the counts are exact, else 0
    uint64_t ncand;        // entries between floor and threshold when exact, else 0
    uint64_t scan_rounds;  // refinement passes that scanned candidates (for warm-start checks)
    uint64_t rounds;       // every round of the loop, the ones decided without a scan included
    uint64_t recounts;     // times the dropped norm was recomputed from the stored entries
    SearchEnd end;
};

// Floors: dropping only entries strictly below them keeps the dropped norm within tol for any
// values. Counts are converted as unsigned 64-bit integers; a count of 0 gives +Inf (NaN when
// tol is 0).
double floor_fro(double tol, uint64_t nnz);
double floor_one(double tol, uint64_t maxcol);
double floor_inf(double tol, uint64_t ncols);

// Largest number of stored entries in one column; jc holds ncols + 1 offsets. 0 when ncols is 0.
uint64_t largest_column_count(const uint64_t* jc, uint64_t ncols);

// First passes. Each entry at or below threshold and at or above floor becomes a candidate,
// its position appended to cand (room for every stored entry); one strictly below floor counts
// in nbelow; both add to the dropped norm. *top receives the largest candidate magnitude (0
// when there is none).
// Over pr[0 .. nnz-1]; the result holds dropped_norm, ncand and nbelow, the rest zero.
SearchState classify_fro(int32_t* cand, const double* pr, uint64_t nnz, double threshold,
                         double floor, double* top);
// cand_ptr: ncols_field + 1 zero-filled entries, set to the candidates' column offsets in cand;
// colsum: ncols_field zero-filled doubles, set to each column's dropped sum; jc: ncols_field + 1.
SearchState classify_one(int32_t* cand, int64_t* cand_ptr, double* colsum, const double* pr,
                         const uint64_t* jc, SearchState state, double* top);
// Scans state.ncand entries of pr and ir; rowsum: nrows_field zero-filled doubles, set to each
// row's dropped sum.
SearchState classify_inf(int32_t* cand, double* rowsum, const double* pr, const uint64_t* ir,
                         SearchState state, double* top);

// Refinements at a lower threshold: each of the ncand live candidates above it leaves the
// dropped set and the list, which is compacted in place keeping its order. *top receives the
// largest magnitude left in the list (0 when none).
// The norm is updated from the square of the previous one; the result holds dropped_norm and
// ncand, the rest zero.
SearchState refine_fro(int32_t* cand, uint64_t ncand, double dropped_norm, const double* pr,
                       double threshold, double* top);
// colsum and cand_ptr as left by the previous 1-norm pass, updated by subtraction.
SearchState refine_one(int32_t* cand, double* colsum, int64_t* cand_ptr, const double* pr,
                       SearchState state, double* top);
// rowsum as left by the previous infinity-norm pass, updated by subtraction.
SearchState refine_inf(int32_t* cand, double* rowsum, const double* pr, const uint64_t* ir,
                       SearchState state, double* top);

// The dropped norm recomputed afresh from every stored entry at or below threshold (NaNs never
// are). Frobenius: the sum of squares in position order, or, where it overflows or falls below
// 2^-969, the 2-norm of the values scaled by a power of two.
double dropped_fro_norm(const double* pr, uint64_t nnz, double threshold);
// Overwrites colsum (ncols doubles) with each column's dropped sum in storage order; returns the
// largest.
double dropped_col_sums(double* colsum, const double* pr, const uint64_t* jc, uint64_t ncols,
                        double threshold);
// Overwrites rowsum (nrows doubles) with each row's dropped sum in storage order; returns the
// largest.
double dropped_row_sums(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                        uint64_t nrows, double threshold);

// Runs the search for one kind over A. `cand` is the zero-filled candidate list of a.nnz
// (at most 2^31 - 1) signed 32-bit entries that the caller allocated with mxCalloc; the search
// releases it (mxFree) together with its own scratch before it returns. `ratio` is already 1
// when the caller gave 0. Needs tol >= 0 or NaN. A kind other than the three releases the list
// and ends the call through the host's error call.
SearchResult search_threshold(NormKind kind, const CscView& a, double tol, double ratio,
                              double threshold, int32_t* cand);
