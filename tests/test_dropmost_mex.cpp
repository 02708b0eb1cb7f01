// dropmost as shipped: the built extension loaded by file name and called as a host calls it.
#include "bits.h"
#include "drop_model.h"
#include "random_csc.h"
#include "standin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace {

using standin::Array;
const double INF = std::numeric_limits<double>::infinity();
const double QNAN = std::numeric_limits<double>::quiet_NaN();
const NormKind KINDS[] = {NORM_FRO, NORM_ONE, NORM_INF};

standin::MexFunction dropmost()
{
    static const standin::MexFunction fn = standin::load_mex(DROPMOST_MODULE);
    return fn;
}

Array as_array(const TestMatrix& m) { return standin::sparse(m.nrows, m.ncols, m.jc, m.ir, m.pr); }

Array kind_array(NormKind kind)
{
    if (kind == NORM_ONE) return standin::scalar(1.0);
    return standin::text(kind == NORM_FRO ? "fro" : "inf");
}

struct Dropped {
    standin::SparseContents b;
    double threshold;
    double dropped;
};

// Calls dropmost with three outputs and checks what every successful call must leave behind.
Dropped run(const TestMatrix& m, double tol, NormKind kind)
{
    Array a = as_array(m), tol_arg = standin::scalar(tol), kind_arg = kind_array(kind);
    const standin::Outcome out = standin::call(dropmost(), 3, {a.get(), tol_arg.get(), kind_arg.get()});
    EXPECT_FALSE(out.failed) << out.message;
    if (out.failed) return {};
    EXPECT_EQ(standin::sparse_defect(out.outputs[0].get()), "");
    EXPECT_TRUE(standin::is_real_double_scalar(out.outputs[1].get()));
    EXPECT_TRUE(standin::is_real_double_scalar(out.outputs[2].get()));
    EXPECT_EQ(out.scratch_left, 0u);
    EXPECT_EQ(out.blocks_leaked, 0u);
    EXPECT_EQ(out.stray_arrays, 0u);
    EXPECT_FALSE(out.inputs_changed);
    EXPECT_FALSE(out.wrote_past_slots);
    return {standin::read_sparse(out.outputs[0].get()), standin::first_value(out.outputs[1].get()),
            standin::first_value(out.outputs[2].get())};
}

// B is A without the part at or below the threshold: its entries in A's order, bit for bit,
// and a capacity of exactly what it keeps.
void expect_kept_above(const TestMatrix& a, const Dropped& d)
{
    const TestMatrix kept = [&] {
        TestMatrix k;
        k.nrows = a.nrows;
        k.ncols = a.ncols;
        for (uint64_t j = 0; j < a.ncols; ++j) {
            for (uint64_t p = a.jc[j]; p < a.jc[j + 1]; ++p) {
                if (std::fabs(a.pr[p]) <= d.threshold) continue;
                k.ir.push_back(a.ir[p]);
                k.pr.push_back(a.pr[p]);
            }
            k.jc.push_back(k.pr.size());
        }
        return k;
    }();
    EXPECT_EQ(d.b.nrows, a.nrows);
    EXPECT_EQ(d.b.ncols, a.ncols);
    EXPECT_EQ(d.b.jc, kept.jc);
    EXPECT_EQ(d.b.ir, kept.ir);
    ASSERT_EQ(d.b.pr.size(), kept.pr.size());
    EXPECT_TRUE(kept.pr.empty() ||
                std::memcmp(d.b.pr.data(), kept.pr.data(), kept.pr.size() * sizeof(double)) == 0);
    EXPECT_EQ(d.b.nzmax, std::max<uint64_t>(kept.pr.size(), 1));
}

}  // namespace

TEST(DropmostMex, RandomCallsAgreeWithTheModel)
{
    std::mt19937_64 rng(42);
    for (int trial = 0; trial < 600; ++trial) {
        ValueMix mix;
        mix.ties = trial % 3 == 0;
        const TestMatrix m = random_shaped_matrix(rng, mix);
        const NormKind kind = KINDS[trial % 3];
        const std::vector<double> c = candidate_thresholds(m);
        double tol = measure(part_at_or_below(m, c[rng() % c.size()]), kind);
        if (trial % 4 == 1) tol = std::nextafter(tol, INF);
        if (trial % 4 == 2 && tol > 0.0) tol = std::nextafter(tol, 0.0);
        if (trial % 17 == 0) tol = INF;
        SCOPED_TRACE(trial);
        const Dropped d = run(m, tol, kind);
        const ModelDrop want = model_by_bisection(m, tol, kind);
        EXPECT_BITS(d.threshold, want.threshold);
        EXPECT_BITS(d.dropped, want.dropped);
        expect_kept_above(m, d);
    }
}

TEST(DropmostMex, OutputsAsAsked)
{
    const TestMatrix m = column({0.5, -3.0, QNAN, 0.25});
    Array a = as_array(m), tol = standin::scalar(1.0), kind = standin::text("fro");
    for (int nlhs = 0; nlhs <= 3; ++nlhs) {
        SCOPED_TRACE(nlhs);
        const standin::Outcome out = standin::call(dropmost(), nlhs, {a.get(), tol.get(), kind.get()});
        ASSERT_FALSE(out.failed) << out.message;
        EXPECT_FALSE(out.wrote_past_slots);
        EXPECT_EQ(out.stray_arrays, 0u);  // nothing made that was not asked for
        const standin::SparseContents b = standin::read_sparse(out.outputs[0].get());
        EXPECT_EQ(b.ir, (std::vector<uint64_t>{1, 2}));
        if (nlhs >= 2) {
            EXPECT_BITS(standin::first_value(out.outputs[1].get()), 0.5);
        }
        if (nlhs >= 3) {
            EXPECT_BITS(standin::first_value(out.outputs[2].get()), std::sqrt(0.3125));
        }
    }
    // Every entry dropped: no entry, capacity 1, every column pointer 0.
    const Dropped all = run(column({1.0, 2.0}), INF, NORM_ONE);
    EXPECT_EQ(all.b.nzmax, 1u);
    EXPECT_EQ(all.b.jc, (std::vector<uint64_t>{0, 0}));
    EXPECT_BITS(all.dropped, 3.0);
}

TEST(DropmostMex, MessagesComeInTheirOrder)
{
    Array good = standin::sparse(2, 1, {0, 2}, {0, 1}, {1.0, 2.0});
    Array full = standin::full(mxDOUBLE_CLASS, {2, 1}, {1, 2});
    Array complex = standin::sparse_of_class(mxDOUBLE_CLASS, true, 1, 1, {0, 1}, {0}, {1.0});
    Array logical = standin::sparse_of_class(mxLOGICAL_CLASS, false, 1, 1, {0, 1}, {0}, {1.0});
    Array cube = standin::sparse(2, 2, {0, 1, 2}, {0, 1}, {1.0, 2.0});
    standin::set_dims(cube.get(), {2, 2, 2});
    Array fro = standin::text("fro"), bad_kind = standin::text("Fro"), one = standin::scalar(1.0);
    Array negative = standin::scalar(-1.0), nan = standin::scalar(QNAN);
    Array empty = standin::full(mxDOUBLE_CLASS, {0, 0}, {});
    Array pair = standin::full(mxDOUBLE_CLASS, {1, 2}, {1, 2});
    Array complex_tol = standin::full(mxDOUBLE_CLASS, {1, 1}, {1}, true);
    Array logical_tol = standin::full(mxLOGICAL_CLASS, {1, 1}, {1});
    Array cell = standin::opaque(mxCELL_CLASS);
    const char* const KIND = "Only for 1-norm, inf-norm and fro-norm.";
    const char* const TOL = "Tolerance must be a nonnegative number.";
    struct Case {
        int nlhs;
        std::vector<const mxArray*> in;
        const char* id;
        const char* expected;
    };
    const Case cases[] = {
        {4, {full.get(), bad_kind.get()}, "dropmost:nargin", "Three inputs required."},
        {1, {good.get(), one.get(), fro.get(), one.get()}, "dropmost:nargin", "Three inputs required."},
        {4, {full.get(), negative.get(), bad_kind.get()}, "dropmost:nargout", "Too many output arguments"},
        {3, {full.get(), negative.get(), bad_kind.get()}, "dropmost:notSparse", "Input must be a sparse matrix."},
        {3, {complex.get(), negative.get(), bad_kind.get()}, "dropmost:notRealDouble", "Input must be noncomplex double."},
        {3, {logical.get(), negative.get(), bad_kind.get()}, "dropmost:notRealDouble", "Input must be noncomplex double."},
        {3, {cube.get(), negative.get(), bad_kind.get()}, "dropmost:notTwoDimensional", "Input argument must be two dimensional \n"},
        {3, {good.get(), negative.get(), bad_kind.get()}, "dropmost:kind", KIND},
        {3, {good.get(), negative.get(), fro.get()}, "dropmost:tolerance", TOL},
        {3, {good.get(), nan.get(), fro.get()}, "dropmost:tolerance", TOL},
        {3, {good.get(), empty.get(), fro.get()}, "dropmost:tolerance", TOL},
        {3, {good.get(), pair.get(), fro.get()}, "dropmost:tolerance", TOL},
        {3, {good.get(), complex_tol.get(), fro.get()}, "dropmost:tolerance", TOL},
        {3, {good.get(), logical_tol.get(), fro.get()}, "dropmost:tolerance", TOL},
        {3, {good.get(), fro.get(), fro.get()}, "dropmost:tolerance", TOL},
        {3, {good.get(), cell.get(), fro.get()}, "dropmost:tolerance", TOL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const standin::Outcome out = standin::call(dropmost(), c.nlhs, c.in);
        EXPECT_TRUE(out.failed);
        EXPECT_EQ(out.identifier, c.id);
        EXPECT_EQ(out.message, c.expected);
        EXPECT_EQ(out.arrays_created, 0u);
        EXPECT_EQ(out.scratch_left, 0u);
        EXPECT_FALSE(out.inputs_changed);
    }
}

TEST(DropmostMex, TolOfAnyNumericClassIsReadByValue)
{
    const TestMatrix m = row({1.0, 2.0, 3.0});
    Array a = as_array(m), kind = standin::text("inf");
    for (mxClassID id : {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS, mxUINT64_CLASS}) {
        Array tol = standin::full(id, {1, 1}, {3});
        const standin::Outcome out = standin::call(dropmost(), 2, {a.get(), tol.get(), kind.get()});
        ASSERT_FALSE(out.failed) << out.message;
        EXPECT_BITS(standin::first_value(out.outputs[1].get()), 2.0);
    }
    Array sparse_tol = standin::sparse(1, 1, {0, 1}, {0}, {3.0});
    const standin::Outcome out = standin::call(dropmost(), 2, {a.get(), sparse_tol.get(), kind.get()});
    ASSERT_FALSE(out.failed) << out.message;
    EXPECT_BITS(standin::first_value(out.outputs[1].get()), 2.0);
}
