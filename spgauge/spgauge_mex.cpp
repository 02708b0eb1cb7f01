// spgauge(A, kind): the 1-, infinity- or Frobenius norm of a real sparse matrix.
#include "gateway_args.h"
#include "host_api.h"
#include "norm_kernels.h"

static const GatewayErrors ERRORS = {
    "spgauge:nargin",     "Two inputs required.", "spgauge:nargout",
    "spgauge:notSparse",  "spgauge:notRealDouble", "spgauge:notTwoDimensional",
    "spgauge:kind",
};

MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    check_gateway_args(nlhs, nrhs, prhs, 2, 1, ERRORS);
    const mxArray* a = prhs[0];
    const double* pr = mxGetPr(a);
    const NormKind kind = parse_norm_kind(prhs[1], ERRORS);
    plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
    double* result = mxGetPr(plhs[0]);
    const uint64_t* jc = host_jc(a);
    const uint64_t ncols = mxGetN(a);
    if (kind == NORM_FRO) {
        *result = frobenius_norm(pr, jc[ncols]);
    } else if (kind == NORM_ONE) {
        *result = one_norm(pr, jc, ncols);
    } else {
        const uint64_t nnz = jc[ncols];
        const uint64_t nrows = mxGetM(a);
        const uint64_t* ir = host_ir(a);
        *result = inf_norm(pr, ir, nnz, nrows);
    }
}
