// B = host_copy_probe(A): a copy of the sparse matrix A made the way dropsmall makes its result
// (mxCreateSparse, then the values, row indices and column pointers written in), so that a host
// benchmark can time what the host spends creating, filling and converting a result of that size.
#include "host_api.h"

#include <cstring>

MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)nlhs;
    if (nrhs != 1 || !mxIsSparse(prhs[0])) mexErrMsgTxt("One sparse input required.");
    const mxArray* a = prhs[0];
    const uint64_t ncols = mxGetN(a);
    const uint64_t nnz = host_jc(a)[ncols];
    mxArray* b = mxCreateSparse(mxGetM(a), ncols, nnz > 0 ? nnz : 1, mxREAL);
    plhs[0] = b;
    std::memcpy(mxGetPr(b), mxGetPr(a), nnz * sizeof(double));
    std::memcpy(host_ir_out(b), host_ir(a), nnz * sizeof(uint64_t));
    std::memcpy(host_jc_out(b), host_jc(a), (ncols + 1) * sizeof(uint64_t));
}
