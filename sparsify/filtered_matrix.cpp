#include "filtered_matrix.h"

#include "copy_kept.h"

mxArray* create_filtered(const CscView& a, uint64_t capacity)
{
    return mxCreateSparse(static_cast<mwSize>(a.nrows), static_cast<mwSize>(a.ncols),
                          static_cast<mwSize>(capacity > 0 ? capacity : 1), mxREAL);
}

// Shrinks B's value and row-index arrays to the kept entries (at least 1).
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

void fill_filtered(mxArray* b, const CscView& a, double threshold, uint64_t capacity, bool exact)
{
    double* pr_out = mxGetPr(b);
    uint64_t* ir_out = host_ir_out(b);
    uint64_t* jc_out = host_jc_out(b);
    if (capacity == 0) return;
    const uint64_t kept = copy_filtered(a, threshold, capacity, pr_out, ir_out, jc_out);
    if (!exact) trim_capacity(b, kept, pr_out, ir_out);
}
