#include "bench_peers.h"

#include <suitesparse/cs.h>

#include <type_traits>

// The host's indices are 64-bit, as CXSparse's are in its cs_dl functions: the struct points at
// our arrays (cs_norm reads them only; its pointers are not const).
static_assert(sizeof(cs_long_t) == sizeof(uint64_t) && std::is_signed<cs_long_t>::value,
              "cs_dl must hold 64-bit signed indices");

double cxsparse_one_norm(const CscView& v)
{
    cs_dl a;
    a.nzmax = static_cast<cs_long_t>(v.nnz);
    a.m = static_cast<cs_long_t>(v.nrows);
    a.n = static_cast<cs_long_t>(v.ncols);
    a.p = const_cast<cs_long_t*>(reinterpret_cast<const cs_long_t*>(v.jc));
    a.i = const_cast<cs_long_t*>(reinterpret_cast<const cs_long_t*>(v.ir));
    a.x = const_cast<double*>(v.pr);
    a.nz = -1;  // compressed columns
    return cs_dl_norm(&a);
}
