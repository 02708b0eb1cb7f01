// Seeded random sparse matrices in compressed-sparse-column form, for randomized tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

struct TestMatrix {
    uint64_t nrows = 0, ncols = 0;
    std::vector<uint64_t> jc{0}, ir;
    std::vector<double> pr;
};

// One column holding values, rows 0 .. n-1.
inline TestMatrix column(const std::vector<double>& values)
{
    TestMatrix m;
    m.nrows = values.size();
    m.ncols = 1;
    for (uint64_t i = 0; i < values.size(); ++i) m.ir.push_back(i);
    m.pr = values;
    m.jc = {0, values.size()};
    return m;
}

// One row holding values, one per column.
inline TestMatrix row(const std::vector<double>& values)
{
    TestMatrix m;
    m.nrows = 1;
    m.ncols = values.size();
    for (uint64_t j = 0; j < values.size(); ++j) {
        m.ir.push_back(0);
        m.jc.push_back(j + 1);
    }
    m.pr = values;
    return m;
}

// Which values a random matrix may hold besides ordinary ones.
struct ValueMix {
    bool specials = true;  // 0, -0, NaN, +-Inf
    bool extremes = true;  // huge, tiny and subnormal magnitudes
    bool ties = false;     // magnitudes drawn from a handful of values
};

inline double random_value(std::mt19937_64& rng, const ValueMix& mix)
{
    const double inf = std::numeric_limits<double>::infinity();
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double sign = (rng() & 1) ? -1.0 : 1.0;
    const unsigned pick = static_cast<unsigned>(rng() % 100);
    if (mix.specials && pick < 2) {
        const double specials[] = {0.0, -0.0, std::nan(""), inf, -inf};
        return specials[rng() % 5];
    }
    if (mix.extremes && pick < 6) {
        const double extremes[] = {1e200, 3e160, 1.5e154, 1e-200, 3e-170, 4.9e-324, 2.2e-308};
        return sign * extremes[rng() % 7];
    }
    if (mix.ties) {
        const double levels[] = {0.25, 0.5, 1.0, 3.0};
        return sign * levels[rng() % 4];
    }
    return sign * std::ldexp(unit(rng), static_cast<int>(rng() % 20) - 10);
}

// A random nrows-by-ncols matrix, each entry stored with probability density.
inline TestMatrix random_matrix(std::mt19937_64& rng, uint64_t nrows, uint64_t ncols,
                                double density, const ValueMix& mix)
{
    TestMatrix m;
    m.nrows = nrows;
    m.ncols = ncols;
    std::bernoulli_distribution stored(density);
    for (uint64_t j = 0; j < ncols; ++j) {
        for (uint64_t i = 0; i < nrows; ++i) {
            if (!stored(rng)) continue;
            m.ir.push_back(i);
            m.pr.push_back(random_value(rng, mix));
        }
        m.jc.push_back(m.pr.size());
    }
    return m;
}

// A random shape: empty, one row, one column, tall, wide or square-ish, with a random density.
inline TestMatrix random_shaped_matrix(std::mt19937_64& rng, const ValueMix& mix)
{
    const uint64_t shapes[][2] = {{0, 0}, {0, 5}, {5, 0}, {1, 40}, {40, 1}, {60, 3}, {3, 60}, {12, 12}};
    const auto& s = shapes[rng() % 8];
    const double densities[] = {0.0, 0.1, 0.5, 1.0};
    return random_matrix(rng, s[0], s[1], densities[rng() % 4], mix);
}
