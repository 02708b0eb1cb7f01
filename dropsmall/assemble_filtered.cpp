#include "assemble_filtered.h"

#include "copy_kept.h"

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
