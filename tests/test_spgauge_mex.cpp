// spgauge as shipped: the built extension loaded by file name and called as a host calls it.
#include "bits.h"
#include "norm_kernels.h"
#include "standin.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using standin::Array;

standin::MexFunction spgauge()
{
    static const standin::MexFunction fn = standin::load_mex(SPGAUGE_MODULE);
    return fn;
}

// 3-by-3: [1 0 -2; 0 3 0; 4 0 NaN-free 5]
Array sample() { return standin::sparse(3, 3, {0, 2, 3, 5}, {0, 2, 1, 0, 2}, {1.0, 4.0, 3.0, -2.0, 5.0}); }

void expect_clean_failure(const standin::Outcome& out, const std::string& id, const std::string& expected)
{
    EXPECT_TRUE(out.failed);
    EXPECT_EQ(out.identifier, id);
    EXPECT_EQ(out.message, expected);
    EXPECT_EQ(out.arrays_created, 0u) << "a failed call created an output";
    EXPECT_EQ(out.scratch_left, 0u);
    EXPECT_FALSE(out.inputs_changed);
    EXPECT_FALSE(out.wrote_past_slots);
}

}  // namespace

TEST(SpgaugeMex, ReturnsEachNormAsRealScalar)
{
    Array a = sample();
    Array fro = standin::text("fro"), inf = standin::text("inf"), one = standin::scalar(1.0);
    Array fro_string = standin::string_scalar("fro"), inf_string = standin::string_scalar("inf");
    const double fro_norm = std::sqrt(1.0 + 16.0 + 9.0 + 4.0 + 25.0);
    const std::pair<const mxArray*, double> cases[] = {
        {fro.get(), fro_norm}, {one.get(), 7.0}, {inf.get(), 9.0},
        {fro_string.get(), fro_norm}, {inf_string.get(), 9.0}};
    for (const auto& [kind, expected] : cases) {
        for (int nlhs : {0, 1}) {
            const standin::Outcome out = standin::call(spgauge(), nlhs, {a.get(), kind});
            ASSERT_FALSE(out.failed) << out.message;
            ASSERT_EQ(out.outputs.size(), 1u);
            ASSERT_TRUE(out.outputs[0] && standin::is_real_double_scalar(out.outputs[0].get()));
            EXPECT_EQ(standin::first_value(out.outputs[0].get()), expected);
            EXPECT_FALSE(out.wrote_past_slots);
            EXPECT_EQ(out.scratch_left, 0u);
            EXPECT_EQ(out.stray_arrays, 0u);
            EXPECT_FALSE(out.inputs_changed);
        }
    }
}

TEST(SpgaugeMex, MessagesComeInTheirOrder)
{
    Array good = sample();
    Array full = standin::full(mxDOUBLE_CLASS, {2, 2}, {1, 2, 3, 4});
    Array logical = standin::sparse_of_class(mxLOGICAL_CLASS, false, 1, 1, {0, 1}, {0}, {1.0});
    Array complex = standin::sparse_of_class(mxDOUBLE_CLASS, true, 1, 1, {0, 1}, {0}, {1.0});
    Array cube = standin::sparse(2, 2, {0, 1, 2}, {0, 1}, {1.0, 2.0});
    standin::set_dims(cube.get(), {2, 2, 2});
    Array fro = standin::text("fro"), bad = standin::text("FRO"), two = standin::scalar(2.0);
    Array bad_string = standin::string_scalar("FRO");
    struct Case {
        int nlhs;
        std::vector<const mxArray*> inputs;
        const char* id;
        const char* expected;
    };
    const char* const KIND = "Only for 1-norm, inf-norm and fro-norm.";
    const Case cases[] = {
        {2, {full.get(), bad.get(), bad.get()}, "spgauge:nargin", "Two inputs required."},
        {0, {good.get()}, "spgauge:nargin", "Two inputs required."},
        {2, {full.get(), bad.get()}, "spgauge:nargout", "Too many output arguments"},
        {1, {full.get(), bad.get()}, "spgauge:notSparse", "Input must be a sparse matrix."},
        {1, {logical.get(), bad.get()}, "spgauge:notRealDouble", "Input must be noncomplex double."},
        {1, {complex.get(), bad.get()}, "spgauge:notRealDouble", "Input must be noncomplex double."},
        {1, {cube.get(), bad.get()}, "spgauge:notTwoDimensional", "Input argument must be two dimensional \n"},
        {1, {good.get(), bad.get()}, "spgauge:kind", KIND},
        {0, {good.get(), two.get()}, "spgauge:kind", KIND},
        {1, {good.get(), bad_string.get()}, "spgauge:kind", KIND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        expect_clean_failure(standin::call(spgauge(), c.nlhs, c.inputs), c.id, c.expected);
    }
}

// The checks, then one read of A's arrays, the kind, the result, and the row sums' scratch.
TEST(SpgaugeMex, HostCallsFollowTheDocumentedOrder)
{
    Array a = sample();
    Array inf = standin::text("inf");
    const standin::Outcome out = standin::call(spgauge(), 1, {a.get(), inf.get()});
    const std::vector<std::string> expected = {
        "mxIsSparse", "mxIsDouble", "mxIsComplex", "mxGetNumberOfDimensions_730",
        "mxGetM", "mxGetN", "mxGetPr", "mxGetIr_730", "mxGetJc_730",
        "mxIsChar", "mxGetN", "mxCalloc", "mxGetString_730", "mxFree",
        "mxCreateDoubleMatrix_730", "mxGetPr", "mxCalloc", "mxFree"};
    EXPECT_EQ(out.host_calls, expected);
}

TEST(SpgaugeMex, StringObjectIsConvertedByTheHostAndReleased)
{
    Array a = sample();
    Array fro = standin::string_scalar("fro");
    const standin::Outcome out = standin::call(spgauge(), 1, {a.get(), fro.get()});
    // After the four checks and the five reads of A.
    const std::vector<std::string> kind_calls(out.host_calls.begin() + 9, out.host_calls.begin() + 21);
    const std::vector<std::string> expected = {
        "mxIsChar", "mxIsNumeric", "mxIsLogical", "mxIsClass", "mxGetNumberOfElements",
        "mexCallMATLAB", "mxIsChar", "mxGetN", "mxCalloc", "mxGetString_730", "mxFree",
        "mxDestroyArray"};
    EXPECT_EQ(kind_calls, expected);
    EXPECT_EQ(out.stray_arrays, 0u);
    EXPECT_EQ(out.scratch_left, 0u);
}

// Edge shapes through the gateway, against norms written out by hand: no rows, no columns, no
// entries, one row, one column, and squares that overflow.
TEST(SpgaugeMex, EdgeShapesGiveTheirNorms)
{
    struct Case {
        Array a;
        double fro, one, inf;
    };
    const double root14 = std::sqrt(1.0 + 4.0 + 9.0);
    Case cases[] = {
        {standin::sparse(0, 0, {0}, {}, {}), 0.0, 0.0, 0.0},
        {standin::sparse(0, 3, {0, 0, 0, 0}, {}, {}), 0.0, 0.0, 0.0},
        {standin::sparse(3, 0, {0}, {}, {}), 0.0, 0.0, 0.0},
        {standin::sparse(2, 2, {0, 0, 0}, {}, {}), 0.0, 0.0, 0.0},
        {standin::sparse(1, 3, {0, 1, 2, 3}, {0, 0, 0}, {1.0, -2.0, 3.0}), root14, 3.0, 6.0},
        {standin::sparse(3, 1, {0, 3}, {0, 1, 2}, {1.0, -2.0, 3.0}), root14, 6.0, 3.0},
        {standin::sparse(5, 1, {0, 1}, {4}, {-0.0}), 0.0, 0.0, 0.0},
        // sqrt(2) 1e200: the plain sum of squares would overflow to +Inf.
        {standin::sparse(2, 1, {0, 2}, {0, 1}, {1e200, -1e200}), 1.4142135623730951e200, 2e200,
         1e200},
    };
    Array kinds[] = {standin::text("fro"), standin::scalar(1.0), standin::text("inf")};
    for (const Case& c : cases) {
        const double expected[] = {c.fro, c.one, c.inf};
        for (int k = 0; k < 3; ++k) {
            const standin::Outcome out = standin::call(spgauge(), 1, {c.a.get(), kinds[k].get()});
            ASSERT_FALSE(out.failed) << out.message;
            const double got = standin::first_value(out.outputs[0].get());
            EXPECT_BITS(got, expected[k]);
            EXPECT_EQ(out.scratch_left, 0u);
        }
    }
}

// Where the rows outnumber the stored entries, the occupied rows are numbered by a radix sort
// of their indices, a digit at a time up to the bit length of the row count. Row 0 and row 2^b
// differ only in bit b, the top bit: at every bit length on either side of a digit's edge, the
// two entries of row 0 must still sum together, 1 + 1 = 2, and row 2^b stay apart at 1.5.
TEST(SpgaugeMex, RowsFarApartAtEveryBitLengthSumApart)
{
    Array inf = standin::text("inf");
    for (int b : {10, 11, 12, 21, 22, 23, 32, 33, 43, 44, 54, 55, 62}) {
        SCOPED_TRACE(b);
        const uint64_t top = uint64_t{1} << b;
        Array a = standin::sparse(top + 1, 2, {0, 2, 3}, {0, top, 0}, {1.0, -1.5, 1.0});
        const standin::Outcome out = standin::call(spgauge(), 1, {a.get(), inf.get()});
        ASSERT_FALSE(out.failed) << out.message;
        EXPECT_BITS(standin::first_value(out.outputs[0].get()), 2.0);
        EXPECT_EQ(out.scratch_left, 0u);
    }
}
