#include "assemble_filtered.h"

// Copies column j's kept entries to pr_out / ir_out from position w on; returns the new w.
// An entry is dropped when threshold >= |x|; a NaN compares unordered and is always kept.
static uint64_t copy_kept_entries(const CscView& a, uint64_t j, double threshold, double* pr_out,
                                  uint64_t* ir_out, uint64_t w)
{
    const uint64_t end = a.jc[j + 1];
    uint64_t k = a.jc[j];
    for (; k + 4 <= end; k += 4) {
        if (!(threshold >= magnitude(a.pr[k]))) { pr_out[w] = a.pr[k]; ir_out[w] = a.ir[k]; ++w; }
        if (!(threshold >= magnitude(a.pr[k + 1]))) { pr_out[w] = a.pr[k + 1]; ir_out[w] = a.ir[k + 1]; ++w; }
        if (!(threshold >= magnitude(a.pr[k + 2]))) { pr_out[w] = a.pr[k + 2]; ir_out[w] = a.ir[k + 2]; ++w; }
        if (!(threshold >= magnitude(a.pr[k + 3]))) { pr_out[w] = a.pr[k + 3]; ir_out[w] = a.ir[k + 3]; ++w; }
    }
    for (; k < end; ++k) {
        if (!(threshold >= magnitude(a.pr[k]))) { pr_out[w] = a.pr[k]; ir_out[w] = a.ir[k]; ++w; }
    }
    return w;
}

// One pass over A in storage order, writing straight into B's arrays. Returns the kept count.
static uint64_t copy_filtered(const CscView& a, double threshold, double* pr_out, uint64_t* ir_out,
                              uint64_t* jc_out)
{
    uint64_t w = 0;
    for (uint64_t j = 0; j < a.ncols; ++j) {
        w = copy_kept_entries(a, j, threshold, pr_out, ir_out, w);
        jc_out[j + 1] = w;
    }
    return w;
}

// Shrinks B's value and row-index arrays to the kept entries (at least 1, since a capacity of 0
// is not relied on with any host).
static void trim_capacity(mxArray* b, uint64_t kept, double* pr_out, uint64_t* ir_out)
{
    const uint64_t newcap = kept > 0 ? kept : 1;
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
    const uint64_t kept = copy_filtered(a, threshold, pr_out, ir_out, jc_out);
    // With nbelow > 0 the counts were exact and the capacity already fits.
    if (nbelow == 0) trim_capacity(b, kept, pr_out, ir_out);
}
