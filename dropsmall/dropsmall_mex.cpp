// [B, ratio] = dropsmall(A, tol, kind, ratio): A without the entries at or below a threshold
// chosen so that the chosen norm of the dropped part stays within tol.
#include "assemble_filtered.h"
#include "gateway_args.h"
#include "host_api.h"
#include "host_matrix.h"
#include "threshold_search.h"

#include <cstdint>

// Candidate positions are stored as signed 32-bit integers.
static const uint64_t MOST_STORED_ENTRIES = INT32_MAX;

static const GatewayErrors ERRORS = {
    "dropsmall:nargin",    "Four inputs required.",  "dropsmall:nargout",
    "dropsmall:notSparse", "dropsmall:notRealDouble", "dropsmall:notTwoDimensional",
    "dropsmall:kind",
};

// tol and ratio: the first element of any non-empty numeric or logical array, by value.
static double read_tolerance(const mxArray* arg)
{
    double tol = 0.0;
    // A negative tolerance can never be met: the search would not end.
    if (!read_first_element(arg, &tol) || tol < 0.0)
        raise_error("dropsmall:tolerance", "Tolerance must be a nonnegative number.");
    return tol;
}

static double read_ratio(const mxArray* arg)
{
    double ratio = 0.0;
    if (!read_first_element(arg, &ratio))
        raise_error("dropsmall:ratio", "Ratio must be a number.");
    return ratio;
}

MEX_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    check_gateway_args(nlhs, nrhs, prhs, 4, 2, ERRORS);
    const NormKind kind = parse_norm_kind(prhs[2], ERRORS);
    const double tol = read_tolerance(prhs[1]);
    double ratio = read_ratio(prhs[3]);
    const CscView a = csc_view_of(prhs[0]);
    if (a.nnz > MOST_STORED_ENTRIES)
        raise_error("dropsmall:tooManyEntries", "Too many stored entries.");
    if (ratio == 0.0) ratio = 1.0;
    const double threshold = tol / ratio;
    // The search releases the candidate list.
    int32_t* cand = static_cast<int32_t*>(mxCalloc(a.nnz, sizeof(int32_t)));
    const SearchResult found = search_threshold(kind, a, tol, ratio, threshold, cand);
    assemble_filtered(a, found.threshold, found.ratio, found.nbelow, found.ncand, nlhs, plhs);
}
