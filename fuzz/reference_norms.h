// Slow, obvious norms to compare the extensions with: running sums in storage order, the order
// the extensions promise, so the bits must agree. The bounds in extended precision and range
// are in tests/support/wide_norms.h.
#pragma once

#include "standin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace fuzz {

// Largest column sum of magnitudes, each column summed top to bottom; NaN sums never win.
inline double ordered_one_norm(const standin::SparseContents& a)
{
    double best = 0.0;
    for (uint64_t j = 0; j < a.ncols; ++j) {
        double sum = 0.0;
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k) sum += std::fabs(a.pr[k]);
        if (sum > best) best = sum;
    }
    return best;
}

// Largest row sum of magnitudes, each row summed in order of column; NaN sums never win. Rows
// are gathered by sorting, so a matrix with very many empty rows costs nothing.
inline double ordered_inf_norm(const standin::SparseContents& a)
{
    std::vector<std::pair<uint64_t, uint64_t>> by_row;  // (row, position), positions ascending
    for (uint64_t k = 0; k < a.pr.size(); ++k) by_row.emplace_back(a.ir[k], k);
    std::stable_sort(by_row.begin(), by_row.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    double best = 0.0;
    for (size_t t = 0; t < by_row.size();) {
        double sum = 0.0;
        const uint64_t row = by_row[t].first;
        for (; t < by_row.size() && by_row[t].first == row; ++t) sum += std::fabs(a.pr[by_row[t].second]);
        if (sum > best) best = sum;
    }
    return best;
}

// The plain running sum of squares in storage order.
inline double ordered_sum_of_squares(const std::vector<double>& pr)
{
    double total = 0.0;
    for (double x : pr) total += x * x;
    return total;
}

}  // namespace fuzz
