// The Frobenius norm shared by spgauge and dropsmall's recount: which values it takes, where the
// plain sum is trusted, and the scaled sum that replaces it.
#include "frobenius.h"

#include "bits.h"
#include "kernel_scratch.h"
#include "norm_kernels.h"
#include "random_csc.h"
#include "wide_norms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

const double INF = std::numeric_limits<double>::infinity();
const double QNAN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

// Each result pinned to its bits, and each within an ulp of the 2-norm: the plain sum would
// give +Inf for the largest double and 0 for the smallest subnormal.
TEST(FrobeniusNorm, HugeAndTinyValuesKeepTheirNorm)
{
    struct Case {
        std::vector<double> values;
        uint64_t bits;
    };
    const Case cases[] = {
        {{1e200}, 0x6974e718d7d7625a},
        {{-1e-200}, 0x16687e92154ef7ac},
        {{4.9e-324}, 0x0000000000000001},
        {{0.0, 3e200, 0.0, -4e200}, 0x699a20df0dcd3af0},
        {{3e-300, 4e-300}, 0x01cac9a7b3b73030},
        {{1.7976931348623157e308, 0.0}, 0x7fefffffffffffff},
    };
    for (const Case& c : cases) {
        const double got = frobenius_norm(c.values.data(), c.values.size());
        EXPECT_EQ(bits_of(got), c.bits) << got;
        const long double want = wide_fro_norm(c.values);
        EXPECT_LE(std::fabs(static_cast<long double>(got) - want),
                  static_cast<long double>(std::nextafter(got, INF) - got));
        EXPECT_EQ(bits_of(frobenius_norm_at_or_below(c.values.data(), c.values.size(), INF)),
                  c.bits);
    }
}

// Squares of 1.25 * 2^-537 are subnormal and round up by a fifth each; 1024 of them beside
// 2^-510 make a plain total of about 2^-1020, which the scaled sum must replace (trusting
// totals down to 2^-1022 would give a norm 56 ulps high).
TEST(FrobeniusNorm, TotalsBelowTwoToMinus969AreScaled)
{
    std::vector<double> v(1024, std::ldexp(1.25, -537));
    v.push_back(std::ldexp(1.0, -510));
    const double want = from_bits(0x20100000000000c8);
    EXPECT_BITS(frobenius_norm(v.data(), v.size()), want);
    EXPECT_BITS(frobenius_norm_at_or_below(v.data(), v.size(), 1.0), want);
    const long double exact = wide_fro_norm(v);
    EXPECT_LT(std::fabs(static_cast<long double>(want) - exact), 0x1p-52L * exact);
}

TEST(FrobeniusNorm, TakesTheValuesAtOrBelowTheThreshold)
{
    const double v[] = {3.0, -4.0, 12.0, QNAN, -0.0, INF};
    EXPECT_EQ(frobenius_norm_at_or_below(v, 6, 4.0), 5.0);    // NaN never, 12 and Inf above
    EXPECT_EQ(frobenius_norm_at_or_below(v, 6, 12.0), 13.0);
    EXPECT_EQ(frobenius_norm_at_or_below(v, 6, INF), INF);
    EXPECT_BITS(frobenius_norm_at_or_below(v, 6, 2.0), 0.0);
    EXPECT_BITS(frobenius_norm_at_or_below(v, 6, QNAN), 0.0);
    EXPECT_EQ(sum_of_scaled_squares(v, 3, 12.0, 0.25), 0.75 * 0.75 + 1.0 + 9.0);
    EXPECT_EQ(largest_at_or_below(v, 6, 5.0), 4.0);
    EXPECT_EQ(largest_at_or_below(v, 0, 5.0), 0.0);
}

// The balanced scale centres the range on 1 and keeps the largest below 2^480, as a normal
// power of two.
TEST(FrobeniusNorm, BalancedScaleKeepsEverySquareNormal)
{
    struct Case {
        double largest, least, scale;
    };
    const Case cases[] = {
        {1.0, 1.0, 1.0},
        {0x1p600, 0x1p400, 0x1p-500},
        {0x1p-600, 0x1p-800, 0x1p700},
        {0x1p10, 0x1p-1, 0x1p-4},                // the middle exponent, 4.5, is floored
        {0x1p-1, 0x1p-10, 0x1p6},                // and so is -5.5
        {0x1p1000, 0x1p-1000, 0x1p-520},         // a range past 2^1000: the largest first
        {0x1p-1070, 0x1p-1074, 0x1p1023},        // the scale itself stays a normal double
        {0x1p700, 0x1p700, 0x1p-700},
        {0x1p1000, 0x1p-100, 0x1p-520},          // lowered: the largest stays below 2^480
    };
    for (const Case& c : cases) EXPECT_EQ(balanced_scale(c.largest, c.least), c.scale) << c.largest;
}

// The accuracy of one running sum in storage order, u = 2^-53: n magnitudes sum to within
// (n - 1) u / (1 - (n - 1) u) of their exact sum, which bounds the 1- and infinity norms; n
// squares sum to within n u / (1 - n u), and the root halves that and adds its own rounding, u.
namespace {

const uint64_t N_TERMS = uint64_t{1} << 18;
const long double U = 0x1p-53L;

long double sum_bound(uint64_t n)
{
    const long double m = static_cast<long double>(n - 1);
    return m * U / (1.0L - m * U);
}

long double fro_bound(uint64_t n)
{
    const long double m = static_cast<long double>(n);
    return 0.5L * m * U / (1.0L - m * U) + U;
}

// One large value first, then n - 1 of a size that leaves it unchanged (for the Frobenius norm,
// whose square does): each addition rounds away nearly all it adds, the worst a running sum
// can do, so the error comes within 1% of the bound.
std::vector<double> one_large_then_tiny(uint64_t n, bool squared)
{
    double tiny = std::nextafter(0x1p-53, 0.0);  // below half the spacing of doubles at 1
    if (squared) {
        tiny = std::sqrt(0x1p-53);
        while (!(tiny * tiny < 0x1p-53)) tiny = std::nextafter(tiny, 0.0);
    }
    std::vector<double> v(n, -tiny);
    v[0] = 1.0;
    return v;
}

// Magnitudes in [0.5, 1): the rounding errors mostly cancel, far inside the bound, where a sum
// carried in less than double precision would not be.
std::vector<double> random_halves(uint64_t n)
{
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> half_to_one(0.5, 1.0);
    std::vector<double> v(n);
    for (double& x : v) x = half_to_one(rng);
    return v;
}

// The relative error of got against the exact value.
long double relative_error(double got, long double exact)
{
    return std::fabs(static_cast<long double>(got) - exact) / exact;
}

}  // namespace

TEST(AccuracyBound, ColumnAndRowSumsStayWithinTheirBoundAndComeCloseToIt)
{
    const long double bound = sum_bound(N_TERMS);
    struct Case {
        const char* name;
        std::vector<double> values;
        bool worst;
    };
    const Case cases[] = {{"one large then tiny", one_large_then_tiny(N_TERMS, false), true},
                          {"random", random_halves(N_TERMS), false}};
    for (const Case& c : cases) {
        const TestMatrix by_column = column(c.values), by_row = row(c.values);
        const double one = one_norm(by_column.pr.data(), by_column.jc.data(), 1);
        const double inf = inf_norm_with_scratch(by_row.pr.data(), by_row.ir.data(), N_TERMS, 1);
        for (const double got : {one, inf}) {
            const long double error = relative_error(got, wide_norm(by_column, NORM_ONE));
            EXPECT_LE(error, bound) << c.name;
            if (c.worst) {
                EXPECT_GE(error, 0.99L * bound) << c.name;
            }
        }
    }
}

// The Frobenius norm at three scales: the two outer ones go through the scaled sum.
TEST(AccuracyBound, FrobeniusNormStaysWithinItsBoundAndComesCloseToIt)
{
    const long double bound = fro_bound(N_TERMS);
    for (const double scale : {1.0, 0x1p600, 0x1p-600}) {
        for (const bool worst : {true, false}) {
            std::vector<double> v =
                worst ? one_large_then_tiny(N_TERMS, true) : random_halves(N_TERMS);
            for (double& x : v) x *= scale;
            const long double error =
                relative_error(frobenius_norm(v.data(), v.size()), wide_fro_norm(v));
            EXPECT_LE(error, bound) << scale;
            // All of it but the root's rounding, which taking the root of 1 does not need.
            if (worst) {
                EXPECT_GE(error, 0.99L * (bound - U)) << scale;
            }
        }
    }
}
