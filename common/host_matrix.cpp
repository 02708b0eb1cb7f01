#include "host_matrix.h"

#include "row_numbering.h"

CscView csc_view_of(const mxArray* a)
{
    CscView v;
    v.nrows = mxGetM(a);
    v.ncols = mxGetN(a);
    v.pr = mxGetPr(a);
    v.ir = host_ir(a);
    v.jc = host_jc(a);
    v.nnz = v.jc[v.ncols];
    return v;
}

SummedRows rows_to_sum(const CscView& a)
{
    if (a.nrows <= a.nnz) return {a.ir, a.nrows, nullptr};
    // Each count is the number of stored entries, which the host holds in memory: no product
    // handed to it can wrap.
    uint64_t* numbered = static_cast<uint64_t*>(mxCalloc(a.nnz, sizeof(uint64_t)));
    uint64_t* words = static_cast<uint64_t*>(mxCalloc(a.nnz, sizeof(uint64_t)));
    const uint64_t nrows = number_occupied_rows(a.ir, a.nnz, numbered, words);
    mxFree(words);
    return {numbered, nrows, numbered};
}

void release_rows(const SummedRows& rows)
{
    if (rows.numbered != nullptr) mxFree(rows.numbered);
}
