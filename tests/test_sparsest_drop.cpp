// The sparsest drop over plain arrays: worked examples, the bounds and windows it rests on, and
// randomized comparisons with the slow model.
#include "sparsest_drop.h"

#include "bits.h"
#include "drop_internal.h"
#include "drop_model.h"
#include "random_csc.h"
#include "search_families.h"
#include "standin.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    for (int trial = 0; trial < 30; ++trial) {
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

// Near 2^-484.5 (totals near 2^-969, where the measure leaves its plain sum of squares for the
// scaled one) and 2^512 (totals near overflow), the Frobenius measure can fall by an ulp as the
// threshold rises: the threshold is then the largest candidate below the first that fails, as
// a scan of every candidate finds it.
TEST(SparsestDrop, FrobeniusWhereTheMeasureChangesFormIsTheFirstFailure)
{
    std::mt19937_64 rng(5);
    int non_monotone = 0;
    for (int trial = 0; trial < 1500; ++trial) {
        ValueMix mix;
        mix.specials = false;
        mix.extremes = false;
        mix.ties = trial % 3 == 0;
        TestMatrix m = random_shaped_matrix(rng, mix);
        const int shift = trial % 2 == 0 ? -484 - static_cast<int>(rng() % 6)
                                         : 508 + static_cast<int>(rng() % 6);
        for (double& x : m.pr) x = std::ldexp(x, shift);
        const std::vector<double> c = candidate_thresholds(m);
        const double at = measure(part_at_or_below(m, c[rng() % c.size()]), NORM_FRO);
        SCOPED_TRACE(trial);
        for (double tol : {at, std::nextafter(at, 0.0), std::nextafter(at, INF)}) {
            if (!(tol > 0.0) || tol == INF) continue;
            const ModelDrop scan = model_by_scan(m, tol, NORM_FRO);
            expect_model(m, tol, NORM_FRO, scan);
            non_monotone += model_by_bisection(m, tol, NORM_FRO).threshold != scan.threshold;
        }
    }
    RecordProperty("non_monotone_cases", non_monotone);
}

// A measure that falls where its form changes: the answer is the first failure with every rung
// before it fitting, found within the piece of one binade and one form that holds it.
struct Synthetic {
    std::vector<uint64_t> bits;
    std::vector<bool> fits;
    std::vector<int> form;
    int tests = 0;
    size_t at(uint64_t b) const { return std::find(bits.begin(), bits.end(), b) - bits.begin(); }
};

bool synthetic_fits(void* context, uint64_t b)
{
    Synthetic* s = static_cast<Synthetic*>(context);
    ++s->tests;
    return s->fits[s->at(b)];
}

int synthetic_form(void* context, uint64_t b)
{
    Synthetic* s = static_cast<Synthetic*>(context);
    return s->form[s->at(b)];
}

TEST(SparsestDrop, PiecesFindTheFirstFailureWhereTheMeasureFalls)
{
    // Rungs 1, 1.5, 2, 3, 4, 6, 8, 12: binades 0, 0, 1, 1, 2, 2, 3, 3.
    const double rungs[] = {1, 1.5, 2, 3, 4, 6, 8, 12};
    struct Case {
        std::vector<bool> fits;
        std::vector<int> form;
        uint64_t first_failure;
    } cases[] = {
        // Fails at rung 3 in the middle of a piece, fits again in the next form: rung 3.
        {{1, 1, 1, 0, 1, 1, 0, 0}, {0, 0, 1, 1, 1, 1, 1, 1}, 3},
        // Fails at the end of the scaled piece, fits again once plain: rung 1.
        {{1, 0, 1, 1, 1, 0, 0, 0}, {0, 0, 1, 1, 1, 1, 1, 1}, 1},
        // Fits until the total overflows: rung 6.
        {{1, 1, 1, 1, 1, 1, 0, 0}, {1, 1, 1, 1, 1, 1, 2, 2}, 6},
        // Everything fits: past the ladder.
        {{1, 1, 1, 1, 1, 1, 1, 1}, {0, 1, 1, 1, 1, 1, 1, 2}, 8},
    };
    Scale open = {0, true, -1.0, INF, 0.0, 1.0, 1.0};  // no rung is decided by the bounds
    for (const Case& c : cases) {
        Synthetic syn;
        std::vector<double> sums(8, 1.0);
        for (double r : rungs) syn.bits.push_back(magnitude_bits(r));
        syn.fits = c.fits;
        syn.form = c.form;
        std::vector<uint64_t> ladder_bits = syn.bits;
        const Ladder ladder = {ladder_bits.data(), sums.data(), 8};
        SparsestDrop work = {};
        EXPECT_EQ(first_failing_rung_by_pieces(ladder, open, ExactTest{synthetic_fits, &syn},
                                               FormOf{synthetic_form, &syn}, &work),
                  c.first_failure);
    }
}

// A and tol times a power of two give the threshold, the dropped norm and the count times that
// power (the count unchanged) while every value and sum stays within [2^-400, 2^400].
TEST(SparsestDrop, TheSameAnswerAtEveryScale)
{
    std::mt19937_64 rng(11);
    for (int trial = 0; trial < 1500; ++trial) {
        ValueMix mix;
        mix.specials = trial % 4 == 0;
        mix.extremes = false;
        mix.ties = trial % 3 == 0;
        const TestMatrix m = random_shaped_matrix(rng, mix);
        const NormKind kind = KINDS[trial % 3];
        const std::vector<double> c = candidate_thresholds(m);
        double tol = measure(part_at_or_below(m, c[rng() % c.size()]), kind);
        if (trial % 2) tol = std::nextafter(tol, (rng() & 1) ? 0.0 : INF);
        const SparsestDrop base = drop(m, tol, kind);
        const int k = static_cast<int>(rng() % 761) - 380;
        TestMatrix scaled = m;
        for (double& x : scaled.pr) x = std::ldexp(x, k);
        const SparsestDrop moved = drop(scaled, std::ldexp(tol, k), kind);
        SCOPED_TRACE(trial);
        EXPECT_BITS(moved.threshold, std::ldexp(base.threshold, k));
        EXPECT_BITS(moved.dropped, std::ldexp(base.dropped, k));
        EXPECT_EQ(moved.ndropped, base.ndropped);
    }
}

// The ends: tol 0 drops the stored zeros alone, tol +Inf every entry but the NaNs; no entry of
// the matrix, and a part holding an infinite entry, measured as spgauge measures them.
TEST(SparsestDrop, EndsOfTheRange)
{
    const TestMatrix m = column({0.0, -0.0, 3.0, QNAN, -INF, 4.9406564584124654e-324});
    for (NormKind kind : KINDS) {
        SCOPED_TRACE(kind);
        const SparsestDrop zero = drop(m, 0.0, kind);
        EXPECT_BITS(zero.threshold, 0.0);
        EXPECT_BITS(zero.dropped, 0.0);
        EXPECT_EQ(zero.ndropped, 2u);
        const SparsestDrop all = drop(m, INF, kind);
        EXPECT_BITS(all.threshold, INF);
        EXPECT_BITS(all.dropped, INF);
        EXPECT_EQ(all.ndropped, 5u);
        const SparsestDrop most = drop(m, 1e300, kind);
        EXPECT_BITS(most.threshold, 3.0);
        EXPECT_EQ(most.ndropped, 4u);
        const SparsestDrop none = drop(TestMatrix{}, 1.0, kind);
        EXPECT_BITS(none.threshold, 0.0);
        EXPECT_EQ(none.ndropped, 0u);
    }
}

// The cost on the worst cases of dropsmall's search and on a random matrix, at three tolerances:
// a few passes over the entries, each magnitude sorted at most once, and exact sums that grow
// with log2(nnz) at most.
TEST(SparsestDrop, WorkOnTheSearchFamiliesIsNearLinear)
{
    const SearchFamily families[] = {FAMILY_IDLE, FAMILY_QUADRATIC, FAMILY_ROW_COUNT,
                                     FAMILY_RANDOM};
    for (uint64_t n : {uint64_t{10000}, uint64_t{100000}, uint64_t{1000000}}) {
        for (SearchFamily family : families) {
            for (NormKind family_kind : {NORM_ONE, NORM_INF}) {
                const FamilyCall call = search_family(family, n, family_kind);
                const uint64_t nnz = call.a.pr.size();
                for (NormKind kind : KINDS) {
                    const double norm = measure(call.a, kind);
                    for (double fraction : {1e-6, 1e-3, 1e-1}) {
                        const SparsestDrop d = drop(call.a, norm * fraction, kind);
                        SCOPED_TRACE(::testing::Message()
                                     << family_name(family) << " n " << n << " kind " << kind
                                     << " tol/norm " << fraction);
                        EXPECT_LE(d.recounts, 2 * std::log2(static_cast<double>(nnz)) + 8);
                        EXPECT_LE(d.entries_sorted, nnz);
                        EXPECT_LE(d.entries_read, (12 + d.recounts) * nnz);
                        RecordProperty("cases", 1);
                    }
                }
            }
        }
    }
}

// Columns (rows, transposed) whose own limits fall from first to last, the columns the 1-norm
// samples first highest: every other column lowers the limit in turn. Each is still worked out once, so the magnitudes sorted
// stay within the stored entries and the passes few.
TestMatrix falling_limits(uint64_t ncols, uint64_t per_column)
{
    TestMatrix m;
    m.nrows = per_column;
    m.ncols = ncols;
    const uint64_t stride = ncols / SAMPLED_COLUMNS;
    for (uint64_t j = 0; j < ncols; ++j) {
        // The sample (where there is one) sees the highest limits.
        const double sampled = stride >= 2 && j % stride == 0 ? 4.0 : 1.0;
        const double scale = sampled * (1.0 + static_cast<double>(ncols - j) / static_cast<double>(ncols));
        for (uint64_t i = 0; i < per_column; ++i) {
            m.ir.push_back(i);
            m.pr.push_back(scale * (1.0 + 0.001 * static_cast<double>(i)));
        }
        m.jc.push_back(m.pr.size());
    }
    return m;
}

TEST(SparsestDrop, WorkWhereEveryColumnLowersTheLimit)
{
    for (uint64_t per_column : {uint64_t{4}, uint64_t{300}}) {
        const TestMatrix m = falling_limits(200000 / per_column, per_column);
        const uint64_t nnz = m.pr.size();
        const double tol = 0.5 * static_cast<double>(per_column);  // under half a column's sum fits
        // The 1-norm over the columns and the infinity norm over the rows of the transpose.
        const TestMatrix t = transposed(m);
        const struct {
            const TestMatrix* a;
            NormKind kind;
        } calls[] = {{&m, NORM_ONE}, {&t, NORM_INF}, {&m, NORM_INF}, {&t, NORM_ONE}};
        for (const auto& c : calls) {
            const SparsestDrop d = drop(*c.a, tol, c.kind);
            SCOPED_TRACE(::testing::Message() << "per column " << per_column << " kind " << c.kind);
            EXPECT_LE(d.entries_sorted, nnz);
            EXPECT_LE(d.entries_read, (12 + d.recounts) * nnz);
            EXPECT_LE(d.recounts, 2 * std::log2(static_cast<double>(nnz)) + 8);
        }
        // Every column of m but the sampled ones lowers the limit in turn.
        EXPECT_GT(drop(m, tol, NORM_ONE).groups_limited, m.ncols / 2);
        EXPECT_GT(drop(t, tol, NORM_INF).groups_limited, 0u);
        EXPECT_BITS(drop(m, tol, NORM_ONE).threshold, model_by_bisection(m, tol, NORM_ONE).threshold);
    }
}

// Windows that need every level of the histograms: thousands of magnitudes within a few ulps of
// each other (the last level has a bucket per bit pattern), and thousands of one magnitude.
TEST(SparsestDrop, CrowdedMagnitudesAgreeWithTheModel)
{
    std::mt19937_64 rng(17);
    for (int trial = 0; trial < 24; ++trial) {
        TestMatrix m;
        m.nrows = 50;
        m.ncols = 120;
        for (uint64_t j = 0; j < m.ncols; ++j) {
            for (uint64_t i = 0; i < m.nrows; ++i) {
                m.ir.push_back(i);
                const double ulps = trial % 2 ? static_cast<double>(rng() % 64) : 0.0;
                m.pr.push_back(std::ldexp(1.0 + ulps * 0x1p-52, trial % 3 - 1));
            }
            m.jc.push_back(m.pr.size());
        }
        const NormKind kind = KINDS[trial % 3];
        const std::vector<double> c = candidate_thresholds(m);
        const double at = measure(part_at_or_below(m, c[rng() % c.size()]), kind);
        SCOPED_TRACE(trial);
        for (double tol : {at, std::nextafter(at, 0.0), std::nextafter(at, INF)})
            expect_model(m, tol, kind, model_by_bisection(m, tol, kind));
    }
}

}  // namespace
