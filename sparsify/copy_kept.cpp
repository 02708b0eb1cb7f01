// The copy of the kept entries into B's arrays, one pass over A in storage order. It asks for
// the values and row indices it will read STREAM_AHEAD entries ahead: hardware prefetching alone
// leaves it waiting on memory.
#include "copy_kept.h"

#include "prefetch.h"

#include <algorithm>

// Entry k is written at position w whether it is kept or not, and w moves on only when it is
// kept: a dropped entry's slot is taken by the next kept one. Without a branch on the value,
// entries kept and dropped at random cost no mispredictions. Needs room for one entry at w.
static inline uint64_t copy_entry_unconditionally(const double* pr, const uint64_t* ir, uint64_t k,
                                                  double threshold, double* pr_out,
                                                  uint64_t* ir_out, uint64_t w)
{
    const double x = pr[k];
    pr_out[w] = x;
    ir_out[w] = ir[k];
    const bool kept = !(threshold >= magnitude(x));  // a NaN compares unordered: kept
    return w + (kept ? 1 : 0);
}

// Entry k is written at w only when kept, for the last entries where B may have no spare room.
static inline uint64_t copy_entry_if_kept(const double* pr, const uint64_t* ir, uint64_t k,
                                          double threshold, double* pr_out, uint64_t* ir_out,
                                          uint64_t w)
{
    const double x = pr[k];
    if (!(threshold >= magnitude(x))) {
        pr_out[w] = x;
        ir_out[w] = ir[k];
        ++w;
    }
    return w;
}

// Copies column j's kept entries to pr_out / ir_out from position w on, in storage order;
// returns the new w. capacity (at least the number of entries kept in all) bounds every write.
static uint64_t copy_kept_entries(const CscView& a, uint64_t j, double threshold,
                                  uint64_t capacity, double* pr_out, uint64_t* ir_out, uint64_t w)
{
    const double* pr = a.pr;  // held locally: B's arrays are written in between
    const uint64_t* ir = a.ir;
    const uint64_t end = a.jc[j + 1];
    uint64_t k = a.jc[j];
    for (; k + 4 <= end; k += 4) {
        prefetch_for_read(pr + std::min(k + STREAM_AHEAD, a.nnz - 1));
        prefetch_for_read(ir + std::min(k + STREAM_AHEAD, a.nnz - 1));
        if (w + 4 <= capacity) {  // four writes land at w .. w + 3 at most
            w = copy_entry_unconditionally(pr, ir, k, threshold, pr_out, ir_out, w);
            w = copy_entry_unconditionally(pr, ir, k + 1, threshold, pr_out, ir_out, w);
            w = copy_entry_unconditionally(pr, ir, k + 2, threshold, pr_out, ir_out, w);
            w = copy_entry_unconditionally(pr, ir, k + 3, threshold, pr_out, ir_out, w);
        } else {
            w = copy_entry_if_kept(pr, ir, k, threshold, pr_out, ir_out, w);
            w = copy_entry_if_kept(pr, ir, k + 1, threshold, pr_out, ir_out, w);
            w = copy_entry_if_kept(pr, ir, k + 2, threshold, pr_out, ir_out, w);
            w = copy_entry_if_kept(pr, ir, k + 3, threshold, pr_out, ir_out, w);
        }
    }
    for (; k < end; ++k) {
        if (w < capacity)
            w = copy_entry_unconditionally(pr, ir, k, threshold, pr_out, ir_out, w);
        else
            w = copy_entry_if_kept(pr, ir, k, threshold, pr_out, ir_out, w);
    }
    return w;
}

uint64_t copy_filtered(const CscView& a, double threshold, uint64_t capacity, double* pr_out,
                       uint64_t* ir_out, uint64_t* jc_out)
{
    uint64_t w = 0;
    for (uint64_t j = 0; j < a.ncols; ++j) {
        w = copy_kept_entries(a, j, threshold, capacity, pr_out, ir_out, w);
        jc_out[j + 1] = w;
    }
    return w;
}

