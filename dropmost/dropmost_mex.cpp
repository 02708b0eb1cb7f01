// [B, threshold, dropped] = dropmost(A, tol, kind): A without every stored entry at or below the
// largest threshold whose dropped part has the chosen norm within tol.
#include "filtered_matrix.h"
#include "gateway_args.h"
#include "host_api.h"
#include "host_matrix.h"
#include "sparsest_drop.h"

#include <cstdint>

static const GatewayErrors ERRORS = {
    "dropmost:nargin",    "Three inputs required.", "dropmost:nargout",
    "dropmost:notSparse", "dropmost:notRealDouble", "dropmost:notTwoDimensional",
    "dropmost:kind",
};

// tol: one real number of any numeric class, not NaN and not negative (+Inf drops every entry
// but the NaNs). A vector, a complex or logical value or text is refused rather than read in
// part.
static double read_tolerance(const mxArray* arg)
{
    double tol = 0.0;
    const bool one_real_number =
        mxIsNumeric(arg) && !mxIsComplex(arg) && mxGetNumberOfElements(arg) == 1;
    if (!one_real_number || !read_first_element(arg, &tol) || !(tol >= 0.0))
        raise_error("dropmost:tolerance", "Tolerance must be a nonnegative number.");
    return tol;
}

MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    check_gateway_args(nlhs, nrhs, prhs, 3, 3, ERRORS);
    const NormKind kind = parse_norm_kind(prhs[2], ERRORS);
    const double tol = read_tolerance(prhs[1]);
    const CscView a = csc_view_of(prhs[0]);
    const SparsestDrop found = find_sparsest_drop(kind, a, tol);
    // The search counted the dropped entries: B is made the size it needs.
    const uint64_t kept = a.nnz - found.ndropped;
    mxArray* b = create_filtered(a, kept);
    plhs[0] = b;
    // The host gives only as many output slots as were asked for (at least one).
    if (nlhs >= 2) plhs[1] = create_scalar(found.threshold);
    if (nlhs >= 3) plhs[2] = create_scalar(found.dropped);
    fill_filtered(b, a, found.threshold, kept, true);
}
