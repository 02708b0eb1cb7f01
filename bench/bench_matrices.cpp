// M1: 5-point Laplacian on a 1500 x 1500 grid, each value scaled by a pseudo-random factor in
//     [0.9, 1.1) so that they are not all equal (about 11.2 million entries).
// M2: 1e6 x 1e6, 1e7 uniformly placed entries (coinciding positions merged), normal values.
// M3: 1000 x 1e6 built the same way (few rows, about 10 entries per column); M3T its transpose.
// M4: 1000 x 1e6 with exactly 10 entries in every column (M3's shape without its spread of
//     column lengths), normal values; M5: 1e6 x 1e6 likewise.
// rows_spread_matrix: the shape of M4 with 100 columns and as many rows as asked for.
#include "bench_matrices.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Csc {
    uint64_t nrows = 0, ncols = 0;
    std::vector<uint64_t> jc{0}, ir;
    std::vector<double> pr;
};

// splitmix64: a fixed, portable stream, so every machine builds the same matrices.
struct Rng {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }  // [0, 1)
    uint64_t below(uint64_t n) { return static_cast<uint64_t>(unit() * static_cast<double>(n)); }
    double normal()  // Box-Muller
    {
        const double u = 1.0 - unit(), v = unit();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
    }
};

Csc laplacian_2d(uint64_t n, uint64_t seed)
{
    Rng rng{seed};
    Csc m;
    m.nrows = m.ncols = n * n;
    m.ir.reserve(5 * n * n);
    m.pr.reserve(5 * n * n);
    auto add = [&](uint64_t i, double x) {
        m.ir.push_back(i);
        m.pr.push_back(x * (0.9 + 0.2 * rng.unit()));
    };
    for (uint64_t y = 0; y < n; ++y) {
        for (uint64_t x = 0; x < n; ++x) {
            const uint64_t j = x + n * y;
            if (y > 0) add(j - n, -1.0);
            if (x > 0) add(j - 1, -1.0);
            add(j, 4.0);
            if (x + 1 < n) add(j + 1, -1.0);
            if (y + 1 < n) add(j + n, -1.0);
            m.jc.push_back(m.pr.size());
        }
    }
    return m;
}

Csc random_normal(uint64_t nrows, uint64_t ncols, uint64_t count, uint64_t seed)
{
    Rng rng{seed};
    std::vector<uint32_t> row(count), col(count);
    std::vector<uint64_t> start(ncols + 1, 0);
    for (uint64_t e = 0; e < count; ++e) {
        row[e] = static_cast<uint32_t>(rng.below(nrows));
        col[e] = static_cast<uint32_t>(rng.below(ncols));
        ++start[col[e] + 1];
    }
    for (uint64_t j = 0; j < ncols; ++j) start[j + 1] += start[j];
    std::vector<uint32_t> rows_by_col(count);
    std::vector<uint64_t> fill(start.begin(), start.end() - 1);
    for (uint64_t e = 0; e < count; ++e) rows_by_col[fill[col[e]]++] = row[e];
    Csc m;
    m.nrows = nrows;
    m.ncols = ncols;
    m.ir.reserve(count);
    m.pr.reserve(count);
    for (uint64_t j = 0; j < ncols; ++j) {
        auto first = rows_by_col.begin() + static_cast<long>(start[j]);
        auto last = rows_by_col.begin() + static_cast<long>(start[j + 1]);
        std::sort(first, last);
        last = std::unique(first, last);
        for (auto it = first; it != last; ++it) {
            m.ir.push_back(*it);
            m.pr.push_back(rng.normal());
        }
        m.jc.push_back(m.pr.size());
    }
    return m;
}

// per_col distinct rows in every column, in increasing order: per_col draws from
// [0, nrows - per_col] sorted, the r-th raised by r. Normal values.
Csc fixed_column_length(uint64_t nrows, uint64_t ncols, uint64_t per_col, uint64_t seed)
{
    Rng rng{seed};
    Csc m;
    m.nrows = nrows;
    m.ncols = ncols;
    m.ir.reserve(ncols * per_col);
    m.pr.reserve(ncols * per_col);
    std::vector<uint64_t> rows(per_col);
    for (uint64_t j = 0; j < ncols; ++j) {
        for (uint64_t& i : rows) i = rng.below(nrows - per_col + 1);
        std::sort(rows.begin(), rows.end());
        for (uint64_t r = 0; r < per_col; ++r) {
            m.ir.push_back(rows[r] + r);
            m.pr.push_back(rng.normal());
        }
        m.jc.push_back(m.pr.size());
    }
    return m;
}

Csc transpose(const Csc& a)
{
    Csc t;
    t.nrows = a.ncols;
    t.ncols = a.nrows;
    t.jc.assign(a.nrows + 1, 0);
    for (uint64_t i : a.ir) ++t.jc[i + 1];
    for (uint64_t i = 0; i < a.nrows; ++i) t.jc[i + 1] += t.jc[i];
    t.ir.resize(a.ir.size());
    t.pr.resize(a.pr.size());
    std::vector<uint64_t> fill(t.jc.begin(), t.jc.end() - 1);
    for (uint64_t j = 0; j < a.ncols; ++j) {
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k) {
            const uint64_t w = fill[a.ir[k]]++;
            t.ir[w] = j;
            t.pr[w] = a.pr[k];
        }
    }
    return t;
}

Csc generate(MatrixId id)
{
    switch (id) {
    case M1: return laplacian_2d(1500, 1);
    case M2: return random_normal(1000000, 1000000, 10000000, 2);
    case M3: return random_normal(1000, 1000000, 10000000, 3);
    case M3T: return transpose(random_normal(1000, 1000000, 10000000, 3));
    case M4: return fixed_column_length(1000, 1000000, 10, 4);
    default: return fixed_column_length(1000000, 1000000, 10, 5);
    }
}

}  // namespace

const char* matrix_name(MatrixId id)
{
    static const char* const names[] = {"M1", "M2", "M3", "M3T", "M4", "M5"};
    return names[id];
}

// Hands c to the host and views the host's arrays.
static void hold(BenchMatrix& m, const Csc& c)
{
    m.host = standin::sparse(c.nrows, c.ncols, c.jc, c.ir, c.pr);
    const mxArray* a = m.host.get();
    m.view.pr = mxGetPr(a);
    m.view.ir = reinterpret_cast<const uint64_t*>(mxGetIr(a));
    m.view.jc = reinterpret_cast<const uint64_t*>(mxGetJc(a));
    m.view.nrows = c.nrows;
    m.view.ncols = c.ncols;
    m.view.nnz = c.pr.size();
}

const BenchMatrix& bench_matrix(MatrixId id)
{
    // Never destroyed: the host's own state may be gone by the time static objects are.
    static BenchMatrix* const built = new BenchMatrix[MATRIX_COUNT];
    BenchMatrix& m = built[id];
    if (!m.host) {
        m.name = matrix_name(id);
        hold(m, generate(id));
    }
    return m;
}

BenchMatrix rows_spread_matrix(uint64_t nrows, uint64_t nnz)
{
    BenchMatrix m;
    m.name = "rows_spread";
    hold(m, fixed_column_length(nrows, 100, nnz / 100, nrows ^ nnz));
    return m;
}
