// The norms as the libraries a C++ user would pick compute them, over our arrays without a copy:
// CXSparse (cs_dl, 64-bit indices) and Eigen (a Map of a column-major SparseMatrix with 64-bit
// indices). Benchmark-only: each file is built only where its library is found.
#pragma once

#include "csc_view.h"

// cs_norm: the largest column sum of magnitudes. bench_peer_cxsparse.cpp, with CXSparse.
double cxsparse_one_norm(const CscView& v);

// With Eigen (bench_peer_eigen.cpp). The square root of squaredNorm().
double eigen_frobenius_norm(const CscView& v);
// The largest entry of the row vector ones(1, nrows) * |A|: the column sums.
double eigen_one_norm(const CscView& v);
// The largest entry of |A| * ones(ncols, 1): the row sums.
double eigen_inf_norm(const CscView& v);
