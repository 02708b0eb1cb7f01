// The parts of the threshold search: floors, first passes, refinements (re-reading every live
// candidate, or taking them in order of magnitude), the ranking of column and row sums, and the
// recount that verifies the bound. Shared by the search's own files and its tests.
#pragma once

#include "csc_view.h"

#include <cstdint>

// The search's current position, seven 8-byte fields copied bit for bit. The 1- and
// infinity-norm passes take it by value and hand back an updated copy; the Frobenius passes
// fill only the fields they compute.
struct SearchState {
    double dropped_norm;    // chosen norm of the dropped set at the current threshold
    uint64_t ncand;         // live candidates at the front of the list
    uint64_t nrows_summed;  // rows the infinity-norm passes keep sums for
    uint64_t ncols;         // ncols of A, read by the 1-norm first pass
    double threshold;       // current threshold
    double floor;           // entries strictly below it are dropped for good
    uint64_t nbelow;        // stored entries strictly below the floor
};

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
// The largest of n sums, ranked in a tournament tree over blocks of SUMS_PER_BLOCK sums, so that
// a changed sum costs a block and log2 of the blocks to re-rank and the tree takes one byte a
// sum. A NaN or negative sum ranks as 0 and so never wins, as in a strict scan from 0.
constexpr uint64_t SUMS_PER_BLOCK = 16;

struct LargestSum {
    double* node;  // 2 blocks_for(n) + 1 entries: node[m + b] ranks block b; node[1] the largest
    uint64_t n;
};

uint64_t blocks_for(uint64_t n);
void rank_all(LargestSum* t, const double* sum);
void rank_one(LargestSum* t, uint64_t i, const double* sum);  // the block holding sum i
double largest(const LargestSum& t);                            // 0 when n is 0

// Sums that fell in one round, re-ranked together when the round ends.
struct Ranking {
    LargestSum tree;
    uint32_t* changed;  // room + 1 entries; an index may appear twice
    uint64_t room;      // most_changes_noted(tree.n)
    uint64_t nchanged;  // may pass the room: then every block is ranked afresh
    uint64_t updates;   // blocks re-ranked one at a time, or all at once, over the search
};

// Past this many noted changes in a round, ranking every block afresh is the cheaper way.
uint64_t most_changes_noted(uint64_t n);

// Notes that sum i fell, when `fell`, without a branch.
inline void note_change(Ranking* r, uint64_t i, bool fell)
{
    r->changed[r->nchanged < r->room ? r->nchanged : r->room] = static_cast<uint32_t>(i);
    r->nchanged += fell;
}

// Re-ranks after the noted sums fell (only where one could be the largest, or all at once where
// that is cheaper), empties the list, and returns the largest sum. Needs every sum at or below
// its block's rank and node 1 exact on entry, as rank_all and every rerank leave them.
double rerank(Ranking* r, const double* sum);

// ---------------------------------------------------------------------------------------------
// The 1-norm keeps a dropped sum only for the columns that hold candidates after the first pass
// (the candidate columns, numbered in column order): no other column's sum ever changes, so
// their largest is settled once. Every array has room for min(ncols, nnz) entries.
struct ColumnSums {
    double* sum;        // per candidate column: sum of the magnitudes of its dropped entries
    uint64_t* column;   // per candidate column: its column in A
    uint32_t* active;   // the candidate columns that still hold live candidates, in order
    uint32_t* live;     // parallel to active: how many live candidates each holds, in list order
    uint64_t nactive;
    uint64_t ncolumns;  // candidate columns
    double settled;     // largest dropped sum of the other columns, 0 when none
};

// ---------------------------------------------------------------------------------------------
// First passes. Each entry at or below threshold and at or above floor becomes a candidate,
// its position appended to cand (room for every stored entry); one strictly below floor counts
// in nbelow; both add to the dropped norm. *top receives the largest candidate magnitude (0
// when there is none).

// Over pr[0 .. nnz-1]; the result holds dropped_norm, ncand and nbelow, the rest zero. The
// squares are taken of the values times *scale, a power of two. Called with *scale 1, the pass
// is run again at balanced_scale (frobenius.h), which *scale then holds, where a square of a
// dropped value is not a normal double or the total comes near overflow; the norm is then at
// that scale. Either way it is the same at every power-of-two scaling of pr.
SearchState classify_fro(int32_t* cand, const double* pr, uint64_t nnz, double threshold,
                         double floor, double* scale, double* top);
// Fills cols (empty on entry) over the state.ncols columns of jc (ncols + 1 offsets).
SearchState classify_one(int32_t* cand, ColumnSums* cols, const double* pr, const uint64_t* jc,
                         SearchState state, double* top);
// Over pr[0 .. nnz-1] with rows ir; rowsum: nrows_summed zero-filled doubles, set to each row's
// dropped sum.
SearchState classify_inf(int32_t* cand, double* rowsum, const double* pr, const uint64_t* ir,
                         uint64_t nnz, SearchState state, double* top);

// ---------------------------------------------------------------------------------------------
// Refinements that re-read the live candidates at a lower threshold: each one above it leaves
// the dropped set and the list, which is compacted in place keeping its order. *top receives
// the largest magnitude left in the list (0 when none). Sums are updated by subtraction in list
// order; the 1- and infinity-norm passes note the sums they change in rank and re-rank them.

// The norm, at the power of two `scale`, is updated from the square of the previous one; the
// result holds dropped_norm and ncand, the rest zero.
SearchState refine_fro(int32_t* cand, uint64_t ncand, double dropped_norm, const double* pr,
                       double threshold, double scale, double* top);
// cols and rank (over cols->sum) as left by the previous 1-norm pass.
SearchState refine_one(int32_t* cand, ColumnSums* cols, Ranking* rank, const double* pr,
                       SearchState state, double* top);
// rowsum and rank (over rowsum) as left by the previous infinity-norm pass; ir as it gave.
SearchState refine_inf(int32_t* cand, double* rowsum, Ranking* rank, const double* pr,
                       const uint64_t* ir, SearchState state, double* top);

// ---------------------------------------------------------------------------------------------
// Rounds that touch only what they remove. Once re-reading the live candidates would cost more
// than a few times the first pass's candidates, the live list is reordered by decreasing
// magnitude; a round takes those above its threshold from the front and subtracts them in
// position order, the order of the list, so every sum keeps its bits.
struct MagnitudeOrder {
    int32_t* cand;  // cand[head .. n-1] are the live candidates, largest magnitude first
    uint64_t head;
    uint64_t n;
    uint64_t hint;  // 1-norm: the candidate column of the last removal
};

// Whether the live list holds at most `most` runs of the magnitude order; it stops reading once
// it holds more.
bool runs_at_most(const int32_t* cand, uint64_t ncand, const double* pr, uint64_t most);

// Both order the live list cand[0 .. ncand-1] by decreasing magnitude, ties by position, and
// start the rounds at its front. A merge of the runs the list already holds (spare: room for
// ncand) costs a pass per doubling of the runs: one pass for a list that already falls in
// magnitude, as the position order of many matrices does.
void order_runs_by_magnitude(MagnitudeOrder* order, int32_t* cand, int32_t* spare,
                             uint64_t ncand, const double* pr);

// The radix sort's digits: 63 bits of magnitude in ORDER_DIGITS digits of ORDER_DIGIT_BITS.
constexpr unsigned ORDER_DIGIT_BITS = 11;
constexpr unsigned ORDER_DIGITS = 6;
constexpr uint64_t ORDER_BUCKETS = uint64_t{1} << ORDER_DIGIT_BITS;

// Room to order n candidates: n keys twice, n candidates, and ORDER_DIGITS rows of digit counts
// (32 bits hold any count: the list never holds more than 2^31 - 1 candidates).
struct OrderScratch {
    uint64_t* key;
    uint64_t* key_spare;
    int32_t* spare;
    uint32_t (*count)[ORDER_BUCKETS];
};

// A radix sort costs a few passes whatever the order; the list must arrive in position order.
void order_by_magnitude(MagnitudeOrder* order, int32_t* cand, const OrderScratch& scratch,
                        uint64_t ncand, const double* pr);

// Where the sums a removal falls from are.
struct SumsOf {
    double* sum;             // column or row sums; null for the Frobenius norm
    const uint64_t* row;     // infinity norm: the row of each stored entry
    const ColumnSums* cols;  // 1-norm: the candidate columns, found by position through jc
    const uint64_t* jc;
    double settled;          // the largest sum kept outside sum
    double scale;            // Frobenius norm: the power of two its squares are taken at
};

// One round at state->threshold: the Frobenius norm is updated from the square of the previous
// one, the others from the sums. Sets state->dropped_norm and state->ncand in place: the rounds
// run back to back, and a copy of the state in and out of every one costs more than the round.
void remove_above(MagnitudeOrder* order, const double* pr, const SumsOf& sums, Ranking* rank,
                  SearchState* state, double* top);

// ---------------------------------------------------------------------------------------------
// The dropped sums recomputed afresh from every stored entry at or below threshold (NaNs never
// are), in storage order; the Frobenius norm's is frobenius_norm_at_or_below (frobenius.h). The
// checks of an ending at the floor are dropped_part.h's lower_until_*.

// Overwrites the sum of every candidate column of cols; jc as for classify_one. Returns the
// stored entries read.
uint64_t recount_column_sums(ColumnSums* cols, const double* pr, const uint64_t* jc,
                             double threshold);
// Overwrites rowsum (nrows doubles) with each row's dropped sum over pr[0 .. nnz-1] with rows ir.
void recount_row_sums(double* rowsum, const double* pr, const uint64_t* ir, uint64_t nnz,
                      uint64_t nrows, double threshold);
