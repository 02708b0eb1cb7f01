// The parts of the threshold search: floors, first passes, refinements (re-reading every live
// candidate, or taking them in order of magnitude), the ranking of column and row sums, and the
// recount that verifies the bound. Shared by the search's own files and its tests.
#pragma once

#include "csc_view.h"

#include <cstdint>
#include <cstring>

// The search's current position, seven 8-byte fields copied bit for bit. The 1- and
// infinity-norm passes take it by value and hand back an updated copy; the Frobenius passes
// fill only the fields they compute.
struct SearchState {
    double dropped_norm;   // chosen norm of the dropped set at the current threshold
    uint64_t ncand;        // live candidates at the front of the list; on entry to classify_inf,
                           // the number of stored entries to scan instead
    uint64_t nrows_field;  // rows the infinity-norm passes keep sums for
    uint64_t ncols_field;  // ncols of A, read by the 1-norm first pass
    double threshold;      // current threshold
    double floor;          // entries strictly below it are dropped for good
    uint64_t nbelow;       // stored entries strictly below the floor
};

// a when keep, else +0.0, without a branch. Adding or subtracting +0.0 leaves every sum's bits
// as they were (a sum of magnitudes is never -0.0).
inline double mask_to(double a, bool keep)
{
    uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    bits &= uint64_t{0} - static_cast<uint64_t>(keep);
    std::memcpy(&a, &bits, sizeof bits);
    return a;
}

// ---------------------------------------------------------------------------------------------
// Floors: dropping only entries strictly below them keeps the dropped norm within tol for any
// values. Counts are converted as unsigned 64-bit integers; a count of 0 gives +Inf (NaN when
// tol is 0).
double floor_fro(double tol, uint64_t nnz);
double floor_one(double tol, uint64_t maxcol);
double floor_inf(double tol, uint64_t ncols);

// Largest number of stored entries in one column; jc holds ncols + 1 offsets. 0 when ncols is 0.
uint64_t largest_column_count(const uint64_t* jc, uint64_t ncols);

// ---------------------------------------------------------------------------------------------
// The largest of n sums, ranked in a tournament tree so that a changed sum costs log n to
// re-rank. A NaN or negative sum ranks as 0 and so never wins, as in a strict scan from 0.
struct LargestSum {
    double* node;  // 2n entries: node[n + i] ranks sum i; node[1] is the largest (n >= 1)
    uint64_t n;
};

void rank_all(LargestSum* t, const double* sum);
void rank_one(LargestSum* t, uint64_t i, double sum);
double largest(const LargestSum& t);  // 0 when n is 0

// Sums changed by one round, re-ranked together when the round ends.
struct Ranking {
    LargestSum tree;
    uint32_t* changed;  // room for every candidate; an index may appear more than once
    uint64_t nchanged;
    uint64_t updates;   // sums re-ranked one at a time, or all n at once, over the search
};

// Re-ranks the changed sums one by one, or all at once where that is cheaper; empties the list.
void rerank(Ranking* r, const double* sum);

// ---------------------------------------------------------------------------------------------
// The 1-norm keeps a dropped sum only for the columns that hold candidates after the first pass
// (the candidate columns, numbered in column order): no other column's sum ever changes, so
// their largest is settled once. Every array has room for min(ncols, nnz) entries.
struct ColumnSums {
    double* sum;        // per candidate column: sum of the magnitudes of its dropped entries
    uint64_t* column;   // per candidate column: its column in A
    uint64_t* active;   // the candidate columns that still hold live candidates, in order
    uint64_t* live;     // parallel to active: how many live candidates each holds, in list order
    uint64_t nactive;
    uint64_t ncolumns;  // candidate columns
    double settled;     // largest dropped sum of the other columns, 0 when none
};

// ---------------------------------------------------------------------------------------------
// First passes. Each entry at or below threshold and at or above floor becomes a candidate,
// its position appended to cand (room for every stored entry); one strictly below floor counts
// in nbelow; both add to the dropped norm. *top receives the largest candidate magnitude (0
// when there is none).

// Over pr[0 .. nnz-1]; the result holds dropped_norm, ncand and nbelow, the rest zero.
SearchState classify_fro(int32_t* cand, const double* pr, uint64_t nnz, double threshold,
                         double floor, double* top);
// Fills cols (empty on entry) over the state.ncols_field columns of jc (ncols_field + 1 offsets).
SearchState classify_one(int32_t* cand, ColumnSums* cols, const double* pr, const uint64_t* jc,
                         SearchState state, double* top);
// Scans state.ncand entries of pr with rows ir; rowsum: nrows_field zero-filled doubles, set to
// each row's dropped sum.
SearchState classify_inf(int32_t* cand, double* rowsum, const double* pr, const uint64_t* ir,
                         SearchState state, double* top);

// ---------------------------------------------------------------------------------------------
// Refinements that re-read the live candidates at a lower threshold: each one above it leaves
// the dropped set and the list, which is compacted in place keeping its order. *top receives
// the largest magnitude left in the list (0 when none). Sums are updated by subtraction in list
// order; the 1- and infinity-norm passes note the sums they change in rank and re-rank them.

// The norm is updated from the square of the previous one; the result holds dropped_norm and
// ncand, the rest zero.
SearchState refine_fro(int32_t* cand, uint64_t ncand, double dropped_norm, const double* pr,
                       double threshold, double* top);
// cols and rank (over cols->sum) as left by the previous 1-norm pass.
SearchState refine_one(int32_t* cand, ColumnSums* cols, Ranking* rank, const double* pr,
                       SearchState state, double* top);
// rowsum and rank (over rowsum) as left by the previous infinity-norm pass; ir as it gave.
SearchState refine_inf(int32_t* cand, double* rowsum, Ranking* rank, const double* pr,
                       const uint64_t* ir, SearchState state, double* top);

// ---------------------------------------------------------------------------------------------
// Rounds that touch only what they remove. Once re-reading the live candidates would cost more
// than a few times the first pass's candidates, the live ones are held in decreasing order of
// magnitude; a round takes those above its threshold from the front and subtracts them in
// position order, the order of the list, so every sum keeps its bits.
struct OrderedCandidate {
    double magnitude;
    int32_t k;       // position in pr
    uint32_t group;  // candidate column (1-norm) or row (infinity norm) of the sum it is in
};

struct MagnitudeOrder {
    OrderedCandidate* c;  // c[head .. n-1] are the live candidates, largest first
    uint64_t head;
    uint64_t n;
};

// Fills order (room for ncand) from the live list. group gives each entry's sum for the
// infinity norm (its row), cols for the 1-norm; both are null for the Frobenius norm.
void order_by_magnitude(MagnitudeOrder* order, const int32_t* cand, uint64_t ncand,
                        const double* pr, const uint64_t* group, const ColumnSums* cols);

// One round at state.threshold. sum is null for the Frobenius norm (its norm is updated from
// the square of the previous one), else the column or row sums ranked in rank; settled is the
// largest sum kept outside them. Gives the state with dropped_norm and ncand set.
SearchState remove_above(MagnitudeOrder* order, double* sum, Ranking* rank, double settled,
                         SearchState state, double* top);

// ---------------------------------------------------------------------------------------------
// The dropped sums recomputed afresh from every stored entry at or below threshold (NaNs never
// are), in storage order; the Frobenius norm's is frobenius_norm_at_or_below (frobenius.h).

// Overwrites the sum of every candidate column of cols; jc as for classify_one. Returns the
// stored entries read.
uint64_t recount_column_sums(ColumnSums* cols, const double* pr, const uint64_t* jc,
                             double threshold);
// Overwrites rowsum (nrows doubles) with each row's dropped sum over pr[0 .. nnz-1] with rows ir.
void recount_row_sums(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                      uint64_t nrows, double threshold);
