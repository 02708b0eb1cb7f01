// The sparsest drop over plain arrays: worked examples, the bounds and windows it rests on, and
// randomized comparisons with the slow model.
#include "sparsest_drop.h"

#include "bits.h"
#include "drop_internal.h"
#include "drop_model.h"
#include "random_csc.h"
#include "standin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

const double INF = std::numeric_limits<double>::infinity();
const double QNAN = std::numeric_limits<double>::quiet_NaN();
const NormKind KINDS[] = {NORM_FRO, NORM_ONE, NORM_INF};

CscView view_of(const TestMatrix& m)
{
    return CscView{m.pr.data(), m.ir.data(), m.jc.data(), m.nrows, m.ncols, m.pr.size()};
}

SparsestDrop drop(const TestMatrix& m, double tol, NormKind kind)
{
    const SparsestDrop d = find_sparsest_drop(kind, view_of(m), tol);
    EXPECT_EQ(standin::live_scratch_blocks(), 0u);
    return d;
}

void expect_model(const TestMatrix& m, double tol, NormKind kind, const ModelDrop& want)
{
    const SparsestDrop got = drop(m, tol, kind);
    EXPECT_BITS(got.threshold, want.threshold) << "kind " << kind << " tol " << tol;
    EXPECT_BITS(got.dropped, want.dropped) << "kind " << kind << " tol " << tol;
    EXPECT_EQ(got.ndropped, want.ndropped) << "kind " << kind << " tol " << tol;
}

TEST(SparsestDrop, RandomMatricesAgreeWithTheModel)
{
    std::mt19937_64 rng(20261208);
    for (int trial = 0; trial < 3000; ++trial) {
        ValueMix mix;
        mix.ties = trial % 3 == 0;
        const TestMatrix m = random_shaped_matrix(rng, mix);
        const NormKind kind = KINDS[trial % 3];
        const double norm = measure(m, kind);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const double tol = std::isfinite(norm) ? norm * unit(rng) : unit(rng);
        SCOPED_TRACE(trial);
        expect_model(m, tol, kind, model_by_bisection(m, tol, kind));
    }
}

// tol exactly at the dropped norm of a candidate, and one double either side: the closest calls
// the bounds can leave, settled by exact sums.
TEST(SparsestDrop, TolAtACandidatesNormAndOneDoubleEitherSide)
{
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 2000; ++trial) {
        ValueMix mix;
        mix.ties = trial % 4 == 0;
        mix.specials = trial % 5 == 0;
        mix.extremes = trial % 7 == 0;
        const TestMatrix m = random_shaped_matrix(rng, mix);
        const NormKind kind = KINDS[trial % 3];
        const std::vector<double> c = candidate_thresholds(m);
        const double at = measure(part_at_or_below(m, c[rng() % c.size()]), kind);
        SCOPED_TRACE(trial);
        for (double tol : {at, std::nextafter(at, 0.0), std::nextafter(at, INF)})
            if (tol >= 0.0) expect_model(m, tol, kind, model_by_bisection(m, tol, kind));
    }
}

// Matrices large enough for the histograms, their finer levels and the sampled columns and rows.
TestMatrix large_matrix(std::mt19937_64& rng, uint64_t nrows, uint64_t ncols, double density,
                        int spread)
{
    TestMatrix m;
    m.nrows = nrows;
    m.ncols = ncols;
    std::bernoulli_distribution stored(density);
    std::uniform_real_distribution<double> unit(1.0, 2.0);
    for (uint64_t j = 0; j < ncols; ++j) {
        for (uint64_t i = 0; i < nrows; ++i) {
            if (!stored(rng)) continue;
            m.ir.push_back(i);
            const int binade = spread > 0 ? static_cast<int>(rng() % spread) : 0;
            m.pr.push_back(std::ldexp(unit(rng), -binade) * ((rng() & 1) ? 1 : -1));
        }
        m.jc.push_back(m.pr.size());
    }
    return m;
}

TEST(SparsestDrop, LargeMatricesAgreeWithTheModel)
{
    std::mt19937_64 rng(99);
    const uint64_t shapes[][2] = {{300, 300}, {3000, 40}, {40, 3000}, {2, 20000}, {20000, 2}};
    for (int trial = 0; trial < 60; ++trial) {
        const auto& shape = shapes[trial % 5];
        const int spread = trial % 4 == 0 ? 0 : (trial % 4 == 1 ? 3 : 40);
        const TestMatrix m = large_matrix(rng, shape[0], shape[1], 0.3, spread);
        const NormKind kind = KINDS[trial % 3];
        const double norm = measure(m, kind);
        const double fractions[] = {1e-6, 1e-3, 1e-1, 0.5};
        const double tol = norm * fractions[(trial / 3) % 4];
        SCOPED_TRACE(trial);
        expect_model(m, tol, kind, model_by_bisection(m, tol, kind));
        const std::vector<double> c = candidate_thresholds(m);
        const double at = measure(part_at_or_below(m, c[c.size() / 2 + rng() % (c.size() / 2)]), kind);
        for (double t : {at, std::nextafter(at, 0.0), std::nextafter(at, INF)})
            expect_model(m, t, kind, model_by_bisection(m, t, kind));
    }
}

}  // namespace
