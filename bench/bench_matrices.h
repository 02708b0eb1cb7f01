// The fixed matrix set the benchmarks run on, generated from fixed seeds (no files), held once
// by the stand-in host so that plain-array and host benchmarks read the same storage.
#pragma once

#include "csc_view.h"
#include "standin.h"

#include <cstdint>

enum MatrixId { M1, M2, M3, M3T, M4, M5, MATRIX_COUNT };

struct BenchMatrix {
    const char* name;
    standin::Array host;  // the input as the host would pass it
    CscView view;         // its arrays
};

// Built on first use and kept for the life of the process.
const BenchMatrix& bench_matrix(MatrixId id);
const char* matrix_name(MatrixId id);

// nrows x 100 with nnz / 100 distinct rows in every column, spread evenly at random (fixed
// seed), normal values: with nrows 2^50 nearly every entry has a row of its own. Each call
// builds it afresh.
BenchMatrix rows_spread_matrix(uint64_t nrows, uint64_t nnz);
