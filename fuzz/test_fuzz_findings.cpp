// Calls the fuzzers found to break a promise, kept as small tests. A test stays DISABLED_ while
// the fault is open (so the suite stays green) and is enabled once the fault is fixed; run the
// open ones with --gtest_also_run_disabled_tests.
#include "standin.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

constexpr double SMALLEST = std::numeric_limits<double>::denorm_min();

// Sum of the magnitudes A holds and B does not, for a one-column A; exact for these values.
double dropped_sum(const standin::SparseContents& a, const standin::SparseContents& b)
{
    double sum = 0.0;
    size_t kb = 0;
    for (size_t k = 0; k < a.pr.size(); ++k) {
        if (kb < b.ir.size() && b.ir[kb] == a.ir[k]) {
            ++kb;
            continue;
        }
        sum += a.pr[k] < 0 ? -a.pr[k] : a.pr[k];
    }
    return sum;
}

}  // namespace

#ifdef DROPSMALL_MODULE
// Six entries of the smallest subnormal and tol five of them: the 1-norm floor tol / 6 rounds up
// to one whole subnormal, so every entry is dropped and the dropped part's norm is 6 steps, above
// tol. The same happens for the infinity norm and, by a smaller margin, the Frobenius norm.
TEST(FuzzFindings, SubnormalToleranceBoundHoldsAtTheFloor)
{
    const standin::MexFunction fn = standin::load_mex(DROPSMALL_MODULE);
    const std::vector<double> values(6, SMALLEST);
    standin::Array a = standin::sparse(6, 1, {0, 6}, {0, 1, 2, 3, 4, 5}, values);
    standin::Array tol = standin::scalar(5 * SMALLEST), one = standin::scalar(1.0);
    for (double start : {std::numeric_limits<double>::quiet_NaN(), 1.0}) {
        standin::Array ratio = standin::scalar(start);
        const standin::Outcome out = standin::call(fn, 2, {a.get(), tol.get(), one.get(), ratio.get()});
        ASSERT_FALSE(out.failed) << out.message;
        const double dropped = dropped_sum(standin::read_sparse(a.get()),
                                           standin::read_sparse(out.outputs[0].get()));
        EXPECT_LE(dropped, 5 * SMALLEST) << "starting ratio " << start;
    }
}
#endif
