#include "search_model.h"

#include "frobenius.h"
#include "kernel_scratch.h"
#include "norm_kernels.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

const double INF = std::numeric_limits<double>::infinity();

enum Class { KEPT, CANDIDATE, BELOW };

struct ModelState {
    const TestMatrix* m;
    NormKind kind;
    std::vector<uint64_t> col_of;
    std::vector<Class> cls;
    std::vector<double> sums;  // by column (1-norm) or row (infinity norm)
    double norm = 0.0;         // Frobenius norm at `scale`
    double scale = 1.0;
};

double largest(const std::vector<double>& sums)
{
    double best = 0.0;
    for (double s : sums) best = std::max(best, s);  // NaN and negative sums never win
    return best;
}

// The column (1-norm) or row (infinity norm) whose sum entry k adds to.
uint64_t group_of(const ModelState& s, uint64_t k)
{
    return s.kind == NORM_ONE ? s.col_of[k] : s.m->ir[k];
}

// The norm of every stored entry at or below t, measured afresh as spgauge measures it; the
// sums are replaced.
double model_recount(ModelState& s, double t)
{
    const TestMatrix& m = *s.m;
    std::fill(s.sums.begin(), s.sums.end(), 0.0);
    for (uint64_t k = 0; k < m.pr.size(); ++k)
        if (t >= std::fabs(m.pr[k]) && s.kind != NORM_FRO)
            s.sums[group_of(s, k)] += std::fabs(m.pr[k]);
    if (s.kind == NORM_FRO) return kernel_norm(dropped_part(m, t), NORM_FRO);
    return largest(s.sums);
}

// Moves every candidate above t out of the dropped set, updating the norm by subtraction.
// Returns how many left.
uint64_t model_refine(ModelState& s, double t)
{
    const TestMatrix& m = *s.m;
    double x = s.norm * s.norm;
    uint64_t removed = 0;
    for (uint64_t k = 0; k < m.pr.size(); ++k) {
        const double a = std::fabs(m.pr[k]);
        if (s.cls[k] != CANDIDATE || !(a > t)) continue;
        s.cls[k] = KEPT;
        ++removed;
        if (s.kind == NORM_FRO)
            x -= (a * s.scale) * (a * s.scale);
        else
            s.sums[group_of(s, k)] -= a;
    }
    s.norm = s.kind == NORM_FRO ? std::sqrt(x) : largest(s.sums);
    return removed;
}

// The dropped squares at 1 while every one is a normal double (or 0) and their total stays far
// from overflow, else at the power of two that centres them on 1.
void model_first_squares(ModelState& s)
{
    const TestMatrix& m = *s.m;
    double total = 0.0, most = 0.0, least = INF;
    for (uint64_t k = 0; k < m.pr.size(); ++k) {
        if (s.cls[k] == KEPT) continue;
        const double a = std::fabs(m.pr[k]);
        total += a * a;
        most = std::max(most, a);
        if (a > 0.0) least = std::min(least, a);
    }
    const bool exact = most == 0.0 || most == INF || (total < 0x1p1020 && least >= 0x1p-511);
    s.scale = exact ? 1.0 : balanced_scale(most, least);
    total = 0.0;
    for (uint64_t k = 0; k < m.pr.size(); ++k)
        if (s.cls[k] != KEPT) total += (std::fabs(m.pr[k]) * s.scale) * (std::fabs(m.pr[k]) * s.scale);
    s.norm = std::sqrt(total);
}

// An ending at the floor keeps the dropped part within tol as spgauge measures it: while the
// part exceeds tol, the threshold goes just below its largest magnitude.
double model_verified_floor(const TestMatrix& m, NormKind kind, double tol, double f)
{
    double t = f;
    for (;;) {
        const TestMatrix d = dropped_part(m, t);
        if (!(kernel_norm(d, kind) > tol)) return t;
        double top = 0.0;
        for (double x : d.pr) top = std::max(top, std::fabs(x));
        t = std::nextafter(top, -INF);
    }
}

}  // namespace

double model_floor(const TestMatrix& m, NormKind kind, double tol)
{
    if (kind == NORM_FRO) return tol / std::sqrt(static_cast<double>(m.pr.size()));
    if (kind == NORM_INF) return tol / static_cast<double>(m.ncols);
    uint64_t most = 0;
    for (uint64_t j = 0; j < m.ncols; ++j) most = std::max<uint64_t>(most, m.jc[j + 1] - m.jc[j]);
    return tol / static_cast<double>(most);
}

// The live candidates are the first pass's candidates at or below the current threshold, as
// a candidate leaves exactly when the threshold falls below it: mags holds their magnitudes in
// increasing order, so a round finds the largest live one and what it would remove by search.
Model model_search(const TestMatrix& m, NormKind kind, double tol, double ratio)
{
    if (ratio == 0.0) ratio = 1.0;
    double t = tol / ratio;
    const double f = model_floor(m, kind, tol);
    Model out;
    out.ratio = ratio;
    if (!(t > f)) {
        out.threshold = model_verified_floor(m, kind, tol, f);
        return out;
    }
    ModelState s{&m, kind, {}, {}, {}, 0.0, 1.0};
    for (uint64_t j = 0; j < m.ncols; ++j)
        for (uint64_t k = m.jc[j]; k < m.jc[j + 1]; ++k) s.col_of.push_back(j);
    s.sums.assign(kind == NORM_ONE ? m.ncols : m.nrows, 0.0);
    std::vector<double> mags;
    for (uint64_t k = 0; k < m.pr.size(); ++k) {
        const double a = std::fabs(m.pr[k]);
        s.cls.push_back(t >= a && a >= f ? CANDIDATE : f > a ? BELOW : KEPT);
        if (s.cls[k] == KEPT) continue;
        if (s.cls[k] == CANDIDATE) mags.push_back(a);
        if (kind != NORM_FRO) s.sums[group_of(s, k)] += a;
    }
    std::sort(mags.begin(), mags.end());
    if (kind == NORM_FRO)
        model_first_squares(s);
    else
        s.norm = largest(s.sums);
    // Idle rounds taken as they come: 1024 and one per stored entry, a million at most.
    const uint64_t idle_budget = std::min<uint64_t>(1024 + m.pr.size(), 1000000);
    uint64_t idle = 0;
    for (;;) {
        while (s.norm > tol * s.scale) {
            ++out.rounds;
            out.ratio = s.norm / (t * s.scale);
            double next = tol / out.ratio;
            const auto live_end = std::upper_bound(mags.begin(), mags.end(), t);
            const size_t live = static_cast<size_t>(live_end - mags.begin());
            const double top = live == 0 ? 0.0 : mags[live - 1];
            bool clamp = !(next > f);
            if (!clamp && ((!(top > next) && idle >= idle_budget) || !(next < t))) {
                next = std::nextafter(top, -INF);
                clamp = live == 0 || !(next > f);
            }
            const bool removes = live > 0 && top > next;
            if (clamp) {
                out.end = END_CLAMPED;
                out.threshold = model_verified_floor(m, kind, tol, f);
                return out;
            }
            if (!(next < t)) out.rising = true;
            t = next;
            // Past the first thousand, idle rounds are taken at their stated outcome; the
            // others look at every entry like any round.
            if (!removes && idle >= 1000) {
                if (kind == NORM_FRO) s.norm = std::sqrt(s.norm * s.norm);
                ++idle;
            } else {
                idle += model_refine(s, t) == 0 ? 1 : 0;
            }
        }
        const double fresh = model_recount(s, t);
        if (fresh <= tol) break;
        s.norm = fresh * s.scale;
    }
    out.end = END_WITHIN_TOL;
    out.threshold = t;
    out.nbelow = static_cast<uint64_t>(std::count(s.cls.begin(), s.cls.end(), BELOW));
    out.ncand = static_cast<uint64_t>(std::count(s.cls.begin(), s.cls.end(), CANDIDATE));
    return out;
}

TestMatrix dropped_part(const TestMatrix& m, double t)
{
    TestMatrix d;
    d.nrows = m.nrows;
    d.ncols = m.ncols;
    for (uint64_t j = 0; j < m.ncols; ++j) {
        for (uint64_t k = m.jc[j]; k < m.jc[j + 1]; ++k) {
            if (!(t >= std::fabs(m.pr[k]))) continue;
            d.ir.push_back(m.ir[k]);
            d.pr.push_back(m.pr[k]);
        }
        d.jc.push_back(d.pr.size());
    }
    return d;
}

double kernel_norm(const TestMatrix& m, NormKind kind)
{
    if (kind == NORM_FRO) return frobenius_norm(m.pr.data(), m.pr.size());
    if (kind == NORM_ONE) return one_norm(m.pr.data(), m.jc.data(), m.ncols);
    return inf_norm_with_scratch(m.pr.data(), m.ir.data(), m.pr.size(), m.nrows);
}
