#include "assemble_filtered.h"

#include "filtered_matrix.h"
#include "gateway_args.h"

void assemble_filtered(const CscView& a, double threshold, double ratio, uint64_t nbelow,
                       uint64_t ncand, int nlhs, mxArray* plhs[])
{
    const uint64_t expected_kept = a.nnz - nbelow - ncand;
    mxArray* b = create_filtered(a, expected_kept);
    plhs[0] = b;
    // The host gives only as many output slots as were asked for (at least one).
    if (nlhs >= 2) plhs[1] = create_scalar(ratio);
    // With nbelow > 0 the counts were exact and the capacity already fits.
    fill_filtered(b, a, threshold, expected_kept, nbelow > 0);
}
