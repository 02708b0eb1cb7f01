// What the harnesses of the extensions that drop entries check of B: a subset of A's entries
// with A's bits, the dropped ones below every kept one, NaN never dropped, and the dropped part's
// norm measured as spgauge measures it.
#pragma once

#include "fuzz_support.h"
#include "kernel_scratch.h"

namespace fuzz {

// B must hold, column by column and in order, a subset of A's entries with their rows and
// bits; every dropped entry must be smaller than every kept one other than NaN, and no NaN may be
// dropped. Returns the dropped values with their columns and rows.
struct Dropped {
    std::vector<double> values;
    std::vector<uint64_t> cols, rows;
};

inline Dropped check_subset(const standin::SparseContents& a, const standin::SparseContents& b)
{
    if (b.nrows != a.nrows || b.ncols != a.ncols) fault("B does not have A's size");
    if (b.nzmax != std::max<uint64_t>(b.jc.back(), 1)) fault("B's capacity is not fitted");
    Dropped d;
    double largest_dropped = -1.0, smallest_kept = INFINITY;
    bool kept_any = false;  // other than NaN
    for (uint64_t j = 0; j < a.ncols; ++j) {
        uint64_t kb = b.jc[j];
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k) {
            const double x = a.pr[k];
            if (kb < b.jc[j + 1] && b.ir[kb] == a.ir[k]) {
                if (bits_of(b.pr[kb]) != bits_of(x)) fault("B changed a value");
                if (!std::isnan(x)) smallest_kept = std::min(smallest_kept, std::fabs(x)), kept_any = true;
                ++kb;
                continue;
            }
            if (std::isnan(x)) fault("a NaN entry was dropped");
            largest_dropped = std::max(largest_dropped, std::fabs(x));
            d.values.push_back(x);
            d.cols.push_back(j);
            d.rows.push_back(a.ir[k]);
        }
        if (kb != b.jc[j + 1]) fault("B holds an entry that A does not");
    }
    if (kept_any && !(largest_dropped < smallest_kept))
        fault("a dropped entry is not below every kept one; A " + describe(a) +
                    "; B " + describe(b));
    return d;
}

// The norm of the dropped part, as spgauge measures it.
inline double dropped_norm(const Dropped& d, uint64_t nrows, uint64_t ncols, int kind)
{
    std::vector<uint64_t> jc(ncols + 1, 0);
    for (uint64_t j : d.cols) ++jc[j + 1];
    for (uint64_t j = 0; j < ncols; ++j) jc[j + 1] += jc[j];
    const uint64_t n = d.values.size();
    if (kind == 0) return frobenius_norm(d.values.data(), n);
    if (kind == 1) return one_norm(d.values.data(), jc.data(), ncols);
    return inf_norm_with_scratch(d.values.data(), d.rows.data(), n, nrows);
}

// The dropped part within tol exactly, as spgauge measures it: its entries in A's order, their
// sums in storage order.
inline void check_bound(const Dropped& d, uint64_t nrows, uint64_t ncols, double tol, int kind,
                        const std::string& context)
{
    const double norm = dropped_norm(d, nrows, ncols, kind);
    if (!(norm <= tol))
        fault("dropped part's norm " + hex(norm) + " exceeds tol " + hex(tol) + " for kind " +
              std::to_string(kind) + "; " + context);
}

}  // namespace fuzz
