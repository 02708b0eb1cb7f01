// spgauge(A, kind): the 1-, infinity- or Frobenius norm of a real sparse matrix.
#include "gateway_args.h"
#include "host_api.h"
#include "host_matrix.h"
#include "norm_kernels.h"

static const GatewayErrors ERRORS = {
    "spgauge:nargin",     "Two inputs required.", "spgauge:nargout",
    "spgauge:notSparse",  "spgauge:notRealDouble", "spgauge:notTwoDimensional",
    "spgauge:kind",
};

// The row sums come zero-filled from the host, one for each row that holds entries.
static double inf_norm_of(const CscView& a)
{
    const SummedRows rows = rows_to_sum(a);
    double* rowsum = static_cast<double*>(mxCalloc(rows.nrows, sizeof(double)));
    const double norm = inf_norm(a.pr, rows.row, a.nnz, rows.nrows, rowsum);
    mxFree(rowsum);
    release_rows(rows);
    return norm;
}

static double norm_of(const CscView& a, NormKind kind)
{
    if (kind == NORM_FRO) return frobenius_norm(a.pr, a.nnz);
    if (kind == NORM_ONE) return one_norm(a.pr, a.jc, a.ncols);
    return inf_norm_of(a);
}

MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    check_gateway_args(nlhs, nrhs, prhs, 2, 1, ERRORS);
    const CscView a = csc_view_of(prhs[0]);
    const NormKind kind = parse_norm_kind(prhs[1], ERRORS);
    plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
    double* result = mxGetPr(plhs[0]);
    *result = norm_of(a, kind);
}
