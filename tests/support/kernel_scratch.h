// spgauge's infinity norm of plain arrays, with the scratch it takes from its caller: where the
// rows outnumber the stored entries, the rows that hold entries are numbered first, as spgauge
// does, so a matrix of 2^60 rows costs no more than its entries.
#pragma once

#include "norm_kernels.h"
#include "row_numbering.h"

#include <cstdint>
#include <vector>

inline double inf_norm_with_scratch(const double* pr, const uint64_t* ir, uint64_t nnz,
                                    uint64_t nrows)
{
    if (nrows <= nnz) {
        std::vector<double> rowsum(nrows, 0.0);
        return inf_norm(pr, ir, nnz, nrows, rowsum.data());
    }
    std::vector<uint64_t> numbered(nnz), words(nnz);
    const uint64_t occupied = number_occupied_rows(ir, nnz, numbered.data(), words.data());
    std::vector<double> rowsum(occupied, 0.0);
    return inf_norm(pr, numbered.data(), nnz, occupied, rowsum.data());
}
