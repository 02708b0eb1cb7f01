// The state of one threshold search as its driver and the check of its ending share it: the
// search's own record, for search_driver.cpp and search_verify.cpp alone.
#pragma once

#include "host_matrix.h"
#include "search_internal.h"
#include "threshold_search.h"

#include <cstddef>
#include <cstdint>

// Everything the driver carries from round to round besides the SearchState.
struct SearchRun {
    NormKind kind;
    CscView a;
    double tol;
    // The running norm is held at the power of two norm_scale (1 but for a Frobenius search whose
    // plain squares would lose bits), and so is the tol it is compared with.
    double norm_scale;
    double norm_tol;
    int32_t* cand;
    ColumnSums cols;        // 1-norm
    double* rowsum;         // infinity norm: a sum per row of rows
    SummedRows rows;        // infinity norm: the rows kept a sum for (rows.row null until then)
    Ranking rank;           // 1- and infinity norm: the largest column or row sum
    MagnitudeOrder order;   // order.cand stays null until the rounds take candidates by magnitude
    uint64_t per_sum;       // most entries one column (1-norm) or row (infinity norm) can hold
    uint64_t idle_budget;   // idle rounds the search may take before they step instead
    SearchState state;
    double ratio;
    double top;             // largest live candidate magnitude, 0 when there is none
    uint64_t first_ncand;   // candidates after the first pass
    uint64_t rereads;       // live candidates read again by refinements
    bool runs_counted;      // the live list's runs were counted (they only merge as it shrinks)
    bool order_now;         // they were few after a re-read that removed few
    uint64_t removed;       // candidates removed so far: names the dropped set at this threshold
    // The running norm's rounding history: the norm it started from (after the first pass or a
    // recount) and the rounds since. They bound its error.
    double history_norm;
    uint64_t history_rounds;
    // The last recount that found the dropped norm above tol, and the dropped set it measured.
    bool recount_failed;
    uint64_t failed_removed;
    double failed_norm;
    SearchResult work;      // the counts of work done, filled as the search goes
};

// Zero-filled scratch from the host, and its release (null is passed over).
void* take_search_scratch(uint64_t count, size_t size);
void release_search_scratch(void* block);

// A sum for every row that holds entries: where the rows outnumber the stored entries, those
// rows are numbered 0, 1, ... first. Sets run->rows, run->rowsum and the state's row count.
void prepare_rows(SearchRun* run);

// Called when the loop has ended on a norm within tol or NaN: true when the dropped part is
// within tol; otherwise the state holds its recounted norm and the loop must go on.
bool dropped_part_within_tol(SearchRun* run);

// The threshold of a search that ended at the floor: the floor itself where the dropped part is
// within tol, else the largest threshold below it where it is.
double verified_floor(SearchRun* run);
