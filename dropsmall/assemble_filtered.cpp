#include "assemble_filtered.h"

#include "prefetch.h"

#include <algorithm>

// How far ahead, in stored entries, the copy asks for the values and row indices it will read:
// hardware prefetching alone leaves it waiting on memory.
static const uint64_t ENTRIES_AHEAD = 512;

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
        prefetch_for_read(pr + std::min(k + ENTRIES_AHEAD, a.nnz - 1));
        prefetch_for_read(ir + std::min(k + ENTRIES_AHEAD, a.nnz - 1));
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

// Shrinks B's value and row-index arrays to the kept entries (at least 1, since a capacity of 0
// is not relied on with any host).
static void trim_capacity(mxArray* b, uint64_t kept, double* pr_out, uint64_t* ir_out)
{
    const uint64_t newcap = kept > 0 ? kept : 1;
    if (kept == 0) {  // the one slot left may hold a dropped entry: back to the host's zeros
        pr_out[0] = 0.0;
        ir_out[0] = 0;
    }
    mxSetNzmax(b, static_cast<mwSize>(newcap));
    void* pr_block = mxRealloc(pr_out, newcap * sizeof(double));
    mxSetPr(b, static_cast<double*>(pr_block));
    void* ir_block = mxRealloc(ir_out, newcap * sizeof(uint64_t));
    host_set_ir(b, ir_block);
}

void assemble_filtered(const CscView& a, double threshold, double ratio, uint64_t nbelow,
                       uint64_t ncand, int nlhs, mxArray* plhs[])
{
    const uint64_t expected_kept = a.nnz - nbelow - ncand;
    const uint64_t capacity = expected_kept > 0 ? expected_kept : 1;
    mxArray* b = mxCreateSparse(static_cast<mwSize>(a.nrows), static_cast<mwSize>(a.ncols),
                                static_cast<mwSize>(capacity), mxREAL);
    plhs[0] = b;
    // The host gives only as many output slots as were asked for (at least one).
    if (nlhs >= 2) {
        plhs[1] = mxCreateDoubleMatrix(1, 1, mxREAL);
        *mxGetPr(plhs[1]) = ratio;
    }
    double* pr_out = mxGetPr(b);
    uint64_t* ir_out = host_ir_out(b);
    uint64_t* jc_out = host_jc_out(b);
    if (expected_kept == 0) return;
    const uint64_t kept = copy_filtered(a, threshold, capacity, pr_out, ir_out, jc_out);
    // With nbelow > 0 the counts were exact and the capacity already fits.
    if (nbelow == 0) trim_capacity(b, kept, pr_out, ir_out);
}
