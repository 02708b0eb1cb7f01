#include "norm_kernels.h"

#include "bits.h"
#include "kernel_scratch.h"
#include "prefetch.h"
#include "random_csc.h"
#include "wide_norms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

const double INF = std::numeric_limits<double>::infinity();

// Plain sequential evaluations, one operation at a time, to compare against bit for bit.
double plain_sum_of_squares(const TestMatrix& m)
{
    double total = 0.0;
    for (double x : m.pr) total += x * x;
    return total;
}

double plain_column_sum(const TestMatrix& m, uint64_t j)
{
    double sum = 0.0;
    for (uint64_t k = m.jc[j]; k < m.jc[j + 1]; ++k) sum += std::fabs(m.pr[k]);
    return sum;
}

double plain_one_norm(const TestMatrix& m)
{
    double best = 0.0;
    for (uint64_t j = 0; j < m.ncols; ++j) {
        const double sum = plain_column_sum(m, j);
        if (sum > best) best = sum;
    }
    return best;
}

double plain_inf_norm(const TestMatrix& m)
{
    std::vector<double> rowsum(m.nrows, 0.0);
    for (size_t k = 0; k < m.pr.size(); ++k) rowsum[m.ir[k]] += std::fabs(m.pr[k]);
    double best = 0.0;
    for (double s : rowsum)
        if (s > best) best = s;
    return best;
}

// The 1-norm of m's columns over pr (m's values) with column j's values times 2^60, so that
// column j alone wins: the result shows its sum, times 2^60 exactly, whatever the others hold.
// pr is left as it was.
double one_norm_won_by(std::vector<double>& pr, const TestMatrix& m, uint64_t j)
{
    for (uint64_t k = m.jc[j]; k < m.jc[j + 1]; ++k) pr[k] = std::ldexp(pr[k], 60);
    const double norm = one_norm(pr.data(), m.jc.data(), m.ncols);
    for (uint64_t k = m.jc[j]; k < m.jc[j + 1]; ++k) pr[k] = std::ldexp(pr[k], -60);
    return norm;
}

// A copy in a heap block of exactly its length: a read past its end reaches memory the address
// sanitizer watches, where a vector grown one entry at a time may hold spare room.
template <class T>
std::vector<T> exact(const std::vector<T>& v)
{
    return std::vector<T>(v.begin(), v.end());
}

double fro(const TestMatrix& m) { return frobenius_norm(m.pr.data(), m.pr.size()); }
double one(const TestMatrix& m) { return one_norm(m.pr.data(), m.jc.data(), m.ncols); }
double inf(const TestMatrix& m)
{
    return inf_norm_with_scratch(m.pr.data(), m.ir.data(), m.pr.size(), m.nrows);
}

}  // namespace

TEST(NormKernels, EmptyMatricesGivePositiveZero)
{
    std::mt19937_64 rng(1);
    const TestMatrix shapes[] = {random_matrix(rng, 0, 0, 1.0, {}), random_matrix(rng, 0, 4, 1.0, {}),
                                 random_matrix(rng, 4, 0, 1.0, {}), random_matrix(rng, 4, 4, 0.0, {})};
    for (const TestMatrix& m : shapes) {
        EXPECT_BITS(fro(m), 0.0);
        EXPECT_BITS(one(m), 0.0);
        EXPECT_BITS(inf(m), 0.0);
    }
}

TEST(NormKernels, SmallExamples)
{
    EXPECT_BITS(fro(column({3.0, -4.0})), 5.0);
    EXPECT_BITS(one(column({3.0, -4.0})), 7.0);
    EXPECT_BITS(inf(row({3.0, -4.0})), 7.0);
    EXPECT_BITS(fro(column({-0.0})), 0.0);
    EXPECT_BITS(one(column({-0.0, 0.0})), 0.0);
    EXPECT_BITS(inf(column({-0.0})), 0.0);
}

TEST(NormKernels, SumsRunInStorageOrder)
{
    EXPECT_BITS(one(column({1e16, 1.0, 1.0})), 1e16);
    EXPECT_BITS(one(column({1.0, 1.0, 1e16})), 1.0000000000000002e16);
    EXPECT_BITS(inf(row({1e16, 1.0, 1.0})), 1e16);
    EXPECT_BITS(inf(row({1.0, 1.0, 1e16})), 1.0000000000000002e16);
    // Nine entries cross the unrolled body and its remainder.
    const std::vector<double> v = {1.0, 1e16, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    EXPECT_BITS(one(column(v)), plain_one_norm(column(v)));
    EXPECT_BITS(inf(row(v)), plain_inf_norm(row(v)));
}

TEST(NormKernels, NaNColumnsAndRowsArePassedOver)
{
    TestMatrix m;  // column 0 holds NaN and 5; column 1 sums to 3
    m.nrows = 2;
    m.ncols = 2;
    m.jc = {0, 2, 4};
    m.ir = {0, 1, 0, 1};
    m.pr = {NAN, 5.0, 1.0, -2.0};
    EXPECT_BITS(one(m), 3.0);
    EXPECT_BITS(inf(m), 7.0);  // row 0 is NaN, row 1 is 5 + 2
    EXPECT_TRUE(std::isnan(fro(m)));
    EXPECT_BITS(one(column({NAN, 1.0})), 0.0);
    EXPECT_BITS(inf(column({NAN})), 0.0);
    EXPECT_BITS(one(row({INF, 1.0})), INF);
    EXPECT_BITS(fro(column({INF, 1.0})), INF);
    EXPECT_TRUE(std::isnan(fro(column({INF, NAN}))));
}

// Values whose squares overflow or underflow are covered with the shared norm (test_frobenius);
// here, what the kernel passes on to it and what it keeps.
TEST(FrobeniusNorm, InfinitiesAndNaNsKeepTheirMeaning)
{
    EXPECT_BITS(fro(column({1.7976931348623157e308, 1.7976931348623157e308})), INF);
    EXPECT_BITS(fro(column({1e200, INF})), INF);
    EXPECT_TRUE(std::isnan(fro(column({1e200, NAN}))));
    EXPECT_TRUE(std::isnan(fro(column({1e-300, NAN}))));
    EXPECT_BITS(fro(column({0.0, -0.0})), 0.0);
}

// The plain sum is kept wherever it is finite and at least 2^-969; elsewhere the result must be
// the true 2-norm up to the rounding of a sequential sum.
TEST(NormKernels, RandomMatricesMatchPlainEvaluationBitForBit)
{
    std::mt19937_64 rng(20261208);
    int scaled_cases = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        ValueMix mix;
        mix.ties = trial % 3 == 0;
        mix.extremes = trial % 2 == 0;
        const TestMatrix m = random_shaped_matrix(rng, mix);
        SCOPED_TRACE(trial);
        EXPECT_BITS(one(m), plain_one_norm(m));
        EXPECT_BITS(inf(m), plain_inf_norm(m));
        const double total = plain_sum_of_squares(m);
        const bool any_inf = std::any_of(m.pr.begin(), m.pr.end(), [](double x) { return std::isinf(x); });
        const bool any_nonzero = std::any_of(m.pr.begin(), m.pr.end(), [](double x) { return x != 0.0; });
        const bool plain_trusted = std::isnan(total) || (total == INF && any_inf) ||
                                   (total < INF && total >= 0x1p-969) || !any_nonzero;
        if (plain_trusted) {
            EXPECT_BITS(fro(m), std::sqrt(total));
        } else {
            ++scaled_cases;
            const double truth = static_cast<double>(wide_fro_norm(m.pr));
            EXPECT_NEAR(fro(m), truth, truth * static_cast<double>(m.pr.size() + 2) * 0x1p-53);
        }
    }
    EXPECT_GT(scaled_cases, 100);
}

// Short columns are summed over a fixed number of steps with the values past each column's end
// masked off: blocks of every column length up to 16 and beyond, NaN and signed zeros right
// after a column's end, must give the plain loop's bits. Most matrices have a finite norm, and
// in those, columns at the edges of the blocks of 64 and a few more are made to win in turn,
// so that a wrong sum of any of them shows; every fourth matrix holds infinities as well.
TEST(NormKernels, ShortColumnsOfEveryLengthMatchThePlainLoop)
{
    std::mt19937_64 rng(1612);
    const double awkward[] = {NAN, -0.0, 0.0, -3.0, 0.5, INF, -INF, 1e308};
    int finite = 0;
    for (int trial = 0; trial < 80; ++trial) {
        const uint64_t most = 1 + static_cast<uint64_t>(trial % 20);  // columns of 0 .. most
        const uint64_t nawkward = trial % 4 == 3 ? 8 : 5;             // with or without Inf
        TestMatrix m;
        m.nrows = 32;
        m.ncols = 300 + rng() % 200;
        for (uint64_t j = 0; j < m.ncols; ++j) {
            const uint64_t n = rng() % (most + 1);
            for (uint64_t i = 0; i < n; ++i) {
                m.ir.push_back(i);
                const double mantissa = 1.0 + static_cast<double>(rng() % 256) / 256.0;
                m.pr.push_back(rng() % 9 == 0 ? awkward[rng() % nawkward]
                                              : std::ldexp(mantissa, static_cast<int>(rng() % 40) - 20));
            }
            m.jc.push_back(m.pr.size());
        }
        std::vector<double> pr = exact(m.pr);
        const double want = plain_one_norm(m);
        EXPECT_BITS(one_norm(pr.data(), m.jc.data(), m.ncols), want) << "trial " << trial;
        if (!(want < INF)) continue;
        ++finite;
        for (uint64_t j = 0; j < m.ncols; ++j) {
            const double sum = plain_column_sum(m, j);
            if ((j + 2) % 64 > 3 && rng() % 16 != 0) continue;
            if (!(sum > 0.0)) continue;  // a NaN or zero sum cannot win
            EXPECT_BITS(one_norm_won_by(pr, m, j), std::ldexp(sum, 60))
                << "trial " << trial << " column " << j;
        }
    }
    EXPECT_GE(finite, 60);
}

// A block's padded steps read up to 15 values past its last column's start, so they run only
// where pr holds that many more. Blocks of every step count end with an empty column, followed
// by a last column of 1 .. 16 entries, in a pr of exactly nnz values: the address sanitizer sees
// any read past its end.
TEST(NormKernels, PaddedStepsNeverReadPastTheEnd)
{
    for (uint64_t w = 4; w <= 16; w += 2) {
        for (uint64_t tail = 1; tail <= 16; ++tail) {
            SCOPED_TRACE(w * 100 + tail);
            TestMatrix m;
            m.nrows = 16;
            const auto add_column = [&m](uint64_t n) {
                for (uint64_t i = 0; i < n; ++i) {
                    m.ir.push_back(i);
                    m.pr.push_back(std::ldexp(1.0 + static_cast<double>(m.pr.size() % 7), -static_cast<int>(i)));
                }
                m.jc.push_back(m.pr.size());
                ++m.ncols;
            };
            for (int j = 0; j < 5; ++j) add_column(w);  // five of w entries: w steps
            for (int j = 5; j < 63; ++j) add_column(1);
            add_column(0);
            add_column(tail);
            const std::vector<double> pr = exact(m.pr);
            EXPECT_BITS(one_norm(pr.data(), m.jc.data(), m.ncols), plain_one_norm(m));
        }
    }
}

// Row sums beyond the cache take the loop that asks for them ahead: up to and past CACHED_SUMS
// rows, with every remainder of the unrolled body, each row's sum (not only the largest) must
// be the plain loop's. The identity's rows sum to 1 each.
TEST(InfNorm, RowSumsOfEveryRowCountMatchThePlainLoop)
{
    std::mt19937_64 rng(32768);
    const ValueMix ordinary{false, false, false};
    for (uint64_t nrows : {CACHED_SUMS, CACHED_SUMS + 1, uint64_t{40000}}) {
        for (uint64_t extra = 0; extra < 4; ++extra) {  // a last column of rows 0 .. extra-1
            SCOPED_TRACE(nrows + extra);
            TestMatrix m = random_matrix(rng, nrows, 2, 0.5, ordinary);
            for (uint64_t i = 0; i < extra; ++i) {
                m.ir.push_back(i);
                m.pr.push_back(random_value(rng, ordinary));
            }
            ++m.ncols;
            m.jc.push_back(m.pr.size());
            std::vector<double> want(nrows, 0.0), rowsum(nrows, 0.0);
            for (size_t k = 0; k < m.pr.size(); ++k) want[m.ir[k]] += std::fabs(m.pr[k]);
            const std::vector<double> pr = exact(m.pr);
            const std::vector<uint64_t> ir = exact(m.ir);
            EXPECT_BITS(inf_norm(pr.data(), ir.data(), pr.size(), nrows, rowsum.data()),
                        plain_inf_norm(m));
            EXPECT_TRUE(std::equal(want.begin(), want.end(), rowsum.begin(),
                                   [](double a, double b) { return bits_of(a) == bits_of(b); }));
        }
        TestMatrix identity;
        identity.nrows = identity.ncols = nrows;
        for (uint64_t j = 0; j < nrows; ++j) {
            identity.ir.push_back(j);
            identity.pr.push_back(1.0);
            identity.jc.push_back(j + 1);
        }
        EXPECT_BITS(inf(identity), 1.0);
    }
}
