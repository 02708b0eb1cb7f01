#include "bench_plain_loops.h"

#include "prefetch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

__attribute__((noinline)) double plain_sum_of_squares(const double* pr, uint64_t nnz)
{
    double total = 0.0;
    uint64_t k = 0;
    for (; k + 4 <= nnz; k += 4) {
        prefetch_for_read(pr + std::min(k + STREAM_AHEAD, nnz - 1));
        total += pr[k] * pr[k];
        total += pr[k + 1] * pr[k + 1];
        total += pr[k + 2] * pr[k + 2];
        total += pr[k + 3] * pr[k + 3];
    }
    for (; k < nnz; ++k) total += pr[k] * pr[k];
    return total;
}

__attribute__((noinline)) double plain_sum_of_squares_unprefetched(const double* pr, uint64_t nnz)
{
    double total = 0.0;
    for (uint64_t k = 0; k < nnz; ++k) total += pr[k] * pr[k];
    return total;
}

__attribute__((noinline)) double plain_column_sums(const double* pr, const uint64_t* jc,
                                                   uint64_t ncols)
{
    double best = 0.0;
    for (uint64_t j = 0; j < ncols; ++j) {
        double sum = 0.0;
        for (uint64_t k = jc[j]; k < jc[j + 1]; ++k) sum += std::fabs(pr[k]);
        if (sum > best) best = sum;
    }
    return best;
}

__attribute__((noinline)) double plain_row_scatter(double* rowsum, const double* pr,
                                                   const uint64_t* ir, uint64_t nnz,
                                                   uint64_t nrows)
{
    std::memset(rowsum, 0, nrows * sizeof(double));
    for (uint64_t k = 0; k < nnz; ++k) rowsum[ir[k]] += std::fabs(pr[k]);
    double best = 0.0;
    for (uint64_t i = 0; i < nrows; ++i)
        if (rowsum[i] > best) best = rowsum[i];
    return best;
}

__attribute__((noinline)) void plain_copy(double* pr_out, uint64_t* ir_out, const double* pr,
                                          const uint64_t* ir, uint64_t nnz)
{
    std::memcpy(pr_out, pr, nnz * sizeof(double));
    std::memcpy(ir_out, ir, nnz * sizeof(uint64_t));
}
