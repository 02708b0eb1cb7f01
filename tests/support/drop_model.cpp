#include "drop_model.h"

#include "norm_kernels.h"

#include <algorithm>
#include <cmath>
#include <map>

TestMatrix part_at_or_below(const TestMatrix& a, double t)
{
    TestMatrix d;
    d.nrows = a.nrows;
    d.ncols = a.ncols;
    for (uint64_t j = 0; j < a.ncols; ++j) {
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k) {
            if (!(std::fabs(a.pr[k]) <= t)) continue;
            d.ir.push_back(a.ir[k]);
            d.pr.push_back(a.pr[k]);
        }
        d.jc.push_back(d.pr.size());
    }
    return d;
}

double measure(const TestMatrix& m, NormKind kind)
{
    if (kind == NORM_FRO) return frobenius_norm(m.pr.data(), m.pr.size());
    if (kind == NORM_ONE) return one_norm(m.pr.data(), m.jc.data(), m.ncols);
    std::map<uint64_t, double> rowsum;
    for (uint64_t k = 0; k < m.pr.size(); ++k) rowsum[m.ir[k]] += std::fabs(m.pr[k]);
    double best = 0.0;
    for (const auto& r : rowsum)
        if (r.second > best) best = r.second;
    return best;
}

std::vector<double> candidate_thresholds(const TestMatrix& a)
{
    std::vector<double> c{0.0};
    for (double x : a.pr)
        if (!std::isnan(x)) c.push_back(std::fabs(x));
    std::sort(c.begin(), c.end());
    c.erase(std::unique(c.begin(), c.end()), c.end());
    return c;
}

static ModelDrop model_at(const TestMatrix& a, double t, NormKind kind)
{
    const TestMatrix d = part_at_or_below(a, t);
    return {t, measure(d, kind), d.pr.size()};
}

static bool fits(const TestMatrix& a, double t, double tol, NormKind kind)
{
    return measure(part_at_or_below(a, t), kind) <= tol;
}

ModelDrop model_by_bisection(const TestMatrix& a, double tol, NormKind kind)
{
    const std::vector<double> c = candidate_thresholds(a);
    size_t lo = 0, hi = c.size();  // c[lo] fits (0 always does); c[hi] fails or is past the end
    while (hi - lo > 1) {
        const size_t mid = lo + (hi - lo) / 2;
        if (fits(a, c[mid], tol, kind))
            lo = mid;
        else
            hi = mid;
    }
    return model_at(a, c[lo], kind);
}

ModelDrop model_by_scan(const TestMatrix& a, double tol, NormKind kind)
{
    const std::vector<double> c = candidate_thresholds(a);
    size_t i = 0;
    while (i + 1 < c.size() && fits(a, c[i + 1], tol, kind)) ++i;
    return model_at(a, c[i], kind);
}
