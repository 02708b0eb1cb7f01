#include "search_families.h"

#include <cmath>
#include <random>

const char* family_name(SearchFamily family)
{
    static const char* const names[] = {"idle", "quadratic", "rowcount", "random"};
    return names[family];
}

FamilyCall search_family(SearchFamily family, uint64_t n, NormKind kind)
{
    switch (family) {
    case FAMILY_IDLE: return idle_family(n, kind);
    case FAMILY_QUADRATIC: return quadratic_family(n, kind);
    case FAMILY_ROW_COUNT: return row_count_family(n, kind);
    default: return random_family(n, kind);
    }
}

TestMatrix transposed(const TestMatrix& a)
{
    TestMatrix t;
    t.nrows = a.ncols;
    t.ncols = a.nrows;
    t.jc.assign(a.nrows + 1, 0);
    for (uint64_t i : a.ir) ++t.jc[i + 1];
    for (uint64_t i = 0; i < a.nrows; ++i) t.jc[i + 1] += t.jc[i];
    t.ir.resize(a.ir.size());
    t.pr.resize(a.pr.size());
    // Columns of a in order, so each column of t receives its rows in ascending order.
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

double kind_norm(const TestMatrix& a, NormKind kind)
{
    std::vector<double> sums(kind == NORM_INF ? a.nrows : a.ncols, 0.0);
    for (uint64_t j = 0; j < a.ncols; ++j)
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k)
            sums[kind == NORM_INF ? a.ir[k] : j] += std::fabs(a.pr[k]);
    double best = 0.0;
    for (double s : sums)
        if (s > best) best = s;
    return best;
}

// Column 0 holds `first` in rows 0 .. first.size() - 1; column j >= 1 holds rest[j - 1] in row 0.
static TestMatrix one_full_column(const std::vector<double>& first, const std::vector<double>& rest)
{
    TestMatrix m;
    m.nrows = first.size();
    m.ncols = rest.size() + 1;
    for (uint64_t i = 0; i < first.size(); ++i) m.ir.push_back(i);
    m.pr = first;
    m.jc.push_back(first.size());
    for (double x : rest) {
        m.ir.push_back(0);
        m.pr.push_back(x);
        m.jc.push_back(m.pr.size());
    }
    return m;
}

static FamilyCall for_kind(TestMatrix one_norm_matrix, NormKind kind, double tol, double ratio)
{
    FamilyCall call;
    call.a = kind == NORM_INF ? transposed(one_norm_matrix) : std::move(one_norm_matrix);
    call.tol = tol;
    call.kind = kind;
    call.ratio = ratio;
    return call;
}

FamilyCall idle_family(uint64_t n, NormKind kind)
{
    const double c = 0.25 + 3.0 * 0x1p-54;
    std::vector<double> t(n - 4);
    for (uint64_t j = 0; j < t.size(); ++j) t[j] = 0.5 * (1.0 - static_cast<double>(j) * 1e-8);
    return for_kind(one_full_column(std::vector<double>(4, c), t), kind, 1.0, 2.0);
}

double quadratic_ratio(double tol, double v, double sum, uint64_t m)
{
    double power = 1.0, base = sum;
    for (uint64_t e = m; e > 0; e /= 2) {
        if (e % 2 == 1) power = power * base;
        base = base * base;
    }
    // T(0) about v S^(m - 1/2): T(m - 1) lands near v S^(1/2), above v, and T(m) below it.
    return tol / (v * power / std::sqrt(sum));
}

std::vector<double> quadratic_thresholds(double tol, double sum, double ratio, uint64_t m)
{
    std::vector<double> t(m);
    if (m == 0) return t;
    t[0] = tol / ratio;
    // Two divisions in this order, as a round computes its ratio and then its threshold.
    for (uint64_t i = 1; i < m; ++i) t[i] = tol / (sum / t[i - 1]);
    return t;
}

FamilyCall quadratic_family(uint64_t n, NormKind kind)
{
    const double tol = 1.0;
    const double v = (1.0 + QUADRATIC_D) / static_cast<double>(QUADRATIC_K);
    const std::vector<double> first(QUADRATIC_K, v);
    double sum = 0.0;
    for (double x : first) sum += x;  // storage order, as the column sum is formed
    const uint64_t m = n - QUADRATIC_K;
    const double ratio = quadratic_ratio(tol, v, sum, m);
    return for_kind(one_full_column(first, quadratic_thresholds(tol, sum, ratio, m)), kind, tol,
                    ratio);
}

double row_count_value(uint64_t e)
{
    const uint64_t h = (e * 2654435761u) % (uint64_t{1} << 32);
    const double x = std::ldexp(1.0 + static_cast<double>(h % 16) / 16.0,
                                -static_cast<int>(h / 16 % 20));
    return (h >> 9) & 1 ? -x : x;
}

FamilyCall row_count_family(uint64_t n, NormKind kind)
{
    const uint64_t ngroups = (n + ROW_COUNT_GROUP - 1) / ROW_COUNT_GROUP;
    const uint64_t spread = kind == NORM_INF ? ROW_COUNT_ROW_SPREAD : ROW_COUNT_COL_SPREAD;
    const uint64_t step = spread * ROW_COUNT_GROUP;
    // Built directly in either orientation: a transpose would walk every empty row.
    FamilyCall call;
    TestMatrix& m = call.a;
    if (kind == NORM_INF) {
        // Group r fills columns 0 .. GROUP-1 of row r * step; column c holds entries c, c + GROUP, ...
        m.nrows = ngroups * step;
        m.ncols = ROW_COUNT_GROUP;
        for (uint64_t c = 0; c < m.ncols; ++c) {
            for (uint64_t e = c; e < n; e += ROW_COUNT_GROUP) {
                m.ir.push_back(e / ROW_COUNT_GROUP * step);
                m.pr.push_back(row_count_value(e));
            }
            m.jc.push_back(m.pr.size());
        }
    } else {
        // Group r fills rows 0 .. GROUP-1 of column r * step; empty columns repeat the offset.
        m.nrows = ROW_COUNT_GROUP;
        m.ncols = ngroups * step;
        m.jc.assign(m.ncols + 1, 0);
        for (uint64_t e = 0; e < n; ++e) {
            m.ir.push_back(e % ROW_COUNT_GROUP);
            m.pr.push_back(row_count_value(e));
            m.jc[e / ROW_COUNT_GROUP * step + 1] = e + 1;
        }
        for (uint64_t j = 0; j < m.ncols; ++j)
            if (m.jc[j + 1] < m.jc[j]) m.jc[j + 1] = m.jc[j];
    }
    call.tol = ROW_COUNT_TOL;
    call.kind = kind;
    call.ratio = 0.0;
    return call;
}

FamilyCall random_family(uint64_t n, NormKind kind)
{
    std::mt19937_64 rng(10);
    const auto side = static_cast<uint64_t>(std::llround(std::sqrt(static_cast<double>(n) / RANDOM_DENSITY)));
    FamilyCall call;
    call.a = random_matrix(rng, side, side, RANDOM_DENSITY, ValueMix{false, false, false});
    call.kind = kind;
    call.tol = 1e-1 * kind_norm(call.a, kind);
    call.ratio = 0.0;
    return call;
}
