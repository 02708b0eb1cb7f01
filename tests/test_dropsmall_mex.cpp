// dropsmall as shipped: the built extension loaded by file name and called as a host calls it.
#include "threshold_search.h"

#include "bits.h"
#include "random_csc.h"
#include "search_model.h"
#include "standin.h"
#include "wide_norms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using standin::Array;
const double INF = std::numeric_limits<double>::infinity();

standin::MexFunction dropsmall()
{
    static const standin::MexFunction fn = standin::load_mex(DROPSMALL_MODULE);
    return fn;
}

// Equal bit for bit, NaNs and signed zeros included.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

Array as_array(const TestMatrix& m) { return standin::sparse(m.nrows, m.ncols, m.jc, m.ir, m.pr); }

// A one-column sparse matrix holding values.
Array column_array(const std::vector<double>& values) { return as_array(column(values)); }

Array kind_array(NormKind kind)
{
    if (kind == NORM_ONE) return standin::scalar(1.0);
    return standin::text(kind == NORM_FRO ? "fro" : "inf");
}

struct Filtered {
    standin::SparseContents b;
    double ratio;
};

// Calls dropsmall with two outputs and checks what every successful call must leave behind.
Filtered run(const mxArray* a, double tol, NormKind kind, double ratio)
{
    Array tol_arg = standin::scalar(tol), kind_arg = kind_array(kind), ratio_arg = standin::scalar(ratio);
    const standin::Outcome out =
        standin::call(dropsmall(), 2, {a, tol_arg.get(), kind_arg.get(), ratio_arg.get()});
    EXPECT_FALSE(out.failed) << out.message;
    if (out.failed) return {};
    EXPECT_EQ(standin::sparse_defect(out.outputs[0].get()), "");
    EXPECT_TRUE(standin::is_real_double_scalar(out.outputs[1].get()));
    EXPECT_EQ(out.scratch_left, 0u);
    EXPECT_EQ(out.blocks_leaked, 0u) << "a block replaced in B was not released";
    EXPECT_EQ(out.stray_arrays, 0u);
    EXPECT_FALSE(out.inputs_changed);
    EXPECT_FALSE(out.wrote_past_slots);
    return {standin::read_sparse(out.outputs[0].get()), standin::first_value(out.outputs[1].get())};
}

// The search alone on the same arrays, for the threshold the call must have used.
SearchResult search_alone(const TestMatrix& m, double tol, NormKind kind, double ratio)
{
    const CscView v{m.pr.data(), m.ir.data(), m.jc.data(), m.nrows, m.ncols, m.pr.size()};
    if (ratio == 0.0) ratio = 1.0;
    int32_t* cand = static_cast<int32_t*>(mxCalloc(v.nnz, sizeof(int32_t)));
    return search_threshold(kind, v, tol, ratio, tol / ratio, cand);
}

// The entries that A has and B has not, in A's order: A - B, as a host would store it.
TestMatrix minus(const TestMatrix& a, const standin::SparseContents& b)
{
    TestMatrix d;
    d.nrows = a.nrows;
    d.ncols = a.ncols;
    for (uint64_t j = 0; j < a.ncols; ++j) {
        uint64_t kb = b.jc[j];
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k) {
            if (kb < b.jc[j + 1] && b.ir[kb] == a.ir[k]) {
                ++kb;
                continue;
            }
            d.ir.push_back(a.ir[k]);
            d.pr.push_back(a.pr[k]);
        }
        d.jc.push_back(d.pr.size());
    }
    return d;
}

void expect_column(const Filtered& f, const std::vector<uint64_t>& ir, const std::vector<double>& pr,
                   double ratio)
{
    EXPECT_EQ(f.b.ir, ir);
    EXPECT_TRUE(same_bits(f.b.pr, pr));
    EXPECT_EQ(f.b.nzmax, std::max<uint64_t>(pr.size(), 1));
    EXPECT_BITS(f.ratio, ratio);
}

}  // namespace

TEST(DropsmallMex, WorkedExamples)
{
    Array ones = column_array({1, 1, 1, 1});
    expect_column(run(ones.get(), 1.0, NORM_FRO, 1.0), {0, 1, 2, 3}, {1, 1, 1, 1}, 2.0);

    Array mixed = column_array({0.1, 0.3, 0.2, 5.0});
    expect_column(run(mixed.get(), 0.25, NORM_FRO, 1.0), {1, 3}, {0.3, 5.0}, 1.0);

    Array three = column_array({0.3, 0.4, 5.0});
    expect_column(run(three.get(), 0.5, NORM_ONE, 1.0), {1, 2}, {0.4, 5.0}, 1.4);

    Array across = standin::sparse(1, 3, {0, 1, 2, 3}, {0, 0, 0}, {0.3, 0.4, 5.0});
    const Filtered f = run(across.get(), 0.5, NORM_INF, 1.0);
    EXPECT_EQ(f.b.jc, (std::vector<uint64_t>{0, 0, 1, 2}));
    EXPECT_EQ(f.b.pr, (std::vector<double>{0.4, 5.0}));
    EXPECT_EQ(f.ratio, 1.4);

    // A zero ratio reads as 1; a NaN ratio starts at the floor (1/sqrt(2)) and comes back.
    Array pair = column_array({1e-9, -1.0});
    expect_column(run(pair.get(), 1.0, NORM_FRO, 0.0), {}, {}, 1.0);
    expect_column(run(pair.get(), 1.0, NORM_FRO, NAN), {1}, {-1.0}, NAN);
    // tol 0 drops exact zeros only; tol NaN drops nothing.
    Array zeros = column_array({0.0, -0.0, 2.0, -3e-300});
    expect_column(run(zeros.get(), 0.0, NORM_FRO, 0.0), {2, 3}, {2.0, -3e-300}, 1.0);
    expect_column(run(zeros.get(), NAN, NORM_ONE, 0.0), {0, 1, 2, 3}, {0.0, -0.0, 2.0, -3e-300}, 1.0);
    // NaN entries are always kept, infinite ones unless the threshold is infinite.
    Array specials = column_array({NAN, INF, -INF, 1.0});
    expect_column(run(specials.get(), 2.0, NORM_ONE, 0.0), {0, 1, 2}, {NAN, INF, -INF}, 1.0);
}

TEST(DropsmallMex, EmptyResultKeepsShapeAndCapacityOne)
{
    Array a = standin::sparse(3, 4, {0, 1, 1, 2, 2}, {2, 0}, {0.5, -0.25});
    const Filtered f = run(a.get(), 10.0, NORM_FRO, 0.0);
    EXPECT_EQ(f.b.nrows, 3u);
    EXPECT_EQ(f.b.ncols, 4u);
    EXPECT_EQ(f.b.jc, (std::vector<uint64_t>{0, 0, 0, 0, 0}));
    EXPECT_EQ(f.b.nzmax, 1u);
    Array empty = standin::sparse(0, 0, {0}, {}, {});
    for (NormKind kind : {NORM_FRO, NORM_ONE, NORM_INF}) EXPECT_EQ(run(empty.get(), 1.0, kind, 0.0).b.nzmax, 1u);
}

TEST(DropsmallMex, OneOutputWritesOneSlot)
{
    Array a = column_array({0.1, 3.0});
    Array tol = standin::scalar(0.5), kind = standin::text("fro"), ratio = standin::scalar(0.0);
    for (int nlhs : {0, 1}) {
        const standin::Outcome out = standin::call(dropsmall(), nlhs, {a.get(), tol.get(), kind.get(), ratio.get()});
        ASSERT_FALSE(out.failed) << out.message;
        EXPECT_FALSE(out.wrote_past_slots);
        EXPECT_EQ(out.stray_arrays, 0u);
        EXPECT_EQ(standin::read_sparse(out.outputs[0].get()).pr, (std::vector<double>{3.0}));
    }
}

TEST(DropsmallMex, MessagesComeInTheirOrder)
{
    Array good = column_array({1.0, 2.0});
    Array full = standin::full(mxDOUBLE_CLASS, {2, 1}, {1, 2});
    Array complex = standin::sparse_of_class(mxDOUBLE_CLASS, true, 1, 1, {0, 1}, {0}, {1.0});
    Array logical = standin::sparse_of_class(mxLOGICAL_CLASS, false, 1, 1, {0, 1}, {0}, {1.0});
    Array cube = standin::sparse(2, 2, {0, 1, 2}, {0, 1}, {1.0, 2.0});
    standin::set_dims(cube.get(), {2, 2, 2});
    Array fro = standin::text("fro"), bad_kind = standin::text("Fro"), one = standin::scalar(1.0);
    Array negative = standin::scalar(-1.0), empty = standin::full(mxDOUBLE_CLASS, {0, 0}, {});
    Array cell = standin::opaque(mxCELL_CLASS), int_tol = standin::full(mxINT16_CLASS, {1, 1}, {2});
    Array fro_string = standin::string_scalar("fro"), two_strings = standin::string_object({"fro", "fro"}, {2, 1});
    const char* const KIND = "Only for 1-norm, inf-norm and fro-norm.";
    const char* const TOL = "Tolerance must be a nonnegative number.";
    const char* const RATIO = "Ratio must be a number.";
    struct Case {
        int nlhs;
        std::vector<const mxArray*> in;
        const char* id;
        const char* expected;
    };
    const Case cases[] = {
        {3, {full.get(), fro.get(), bad_kind.get()}, "dropsmall:nargin", "Four inputs required."},
        {1, {good.get(), one.get(), fro.get(), one.get(), one.get()}, "dropsmall:nargin", "Four inputs required."},
        {3, {full.get(), negative.get(), bad_kind.get(), cell.get()}, "dropsmall:nargout", "Too many output arguments"},
        {2, {full.get(), negative.get(), bad_kind.get(), cell.get()}, "dropsmall:notSparse", "Input must be a sparse matrix."},
        {2, {complex.get(), negative.get(), bad_kind.get(), cell.get()}, "dropsmall:notRealDouble", "Input must be noncomplex double."},
        {2, {logical.get(), negative.get(), bad_kind.get(), cell.get()}, "dropsmall:notRealDouble", "Input must be noncomplex double."},
        {2, {cube.get(), negative.get(), bad_kind.get(), cell.get()}, "dropsmall:notTwoDimensional", "Input argument must be two dimensional \n"},
        {2, {good.get(), negative.get(), bad_kind.get(), cell.get()}, "dropsmall:kind", KIND},
        {2, {good.get(), fro.get(), bad_kind.get(), one.get()}, "dropsmall:kind", KIND},
        {2, {good.get(), one.get(), two_strings.get(), one.get()}, "dropsmall:kind", KIND},
        {2, {good.get(), negative.get(), fro.get(), cell.get()}, "dropsmall:tolerance", TOL},
        {2, {good.get(), negative.get(), fro_string.get(), cell.get()}, "dropsmall:tolerance", TOL},
        {2, {good.get(), empty.get(), fro.get(), cell.get()}, "dropsmall:tolerance", TOL},
        {2, {good.get(), fro.get(), fro.get(), one.get()}, "dropsmall:tolerance", TOL},
        {2, {good.get(), cell.get(), fro.get(), one.get()}, "dropsmall:tolerance", TOL},
        {2, {good.get(), one.get(), fro.get(), cell.get()}, "dropsmall:ratio", RATIO},
        {2, {good.get(), one.get(), fro.get(), empty.get()}, "dropsmall:ratio", RATIO},
        {2, {good.get(), int_tol.get(), fro.get(), fro.get()}, "dropsmall:ratio", RATIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        const standin::Outcome out = standin::call(dropsmall(), c.nlhs, c.in);
        EXPECT_TRUE(out.failed);
        EXPECT_EQ(out.identifier, c.id);
        EXPECT_EQ(out.message, c.expected);
        EXPECT_EQ(out.arrays_created, 0u);
        EXPECT_EQ(out.scratch_left, 0u);
        EXPECT_FALSE(out.inputs_changed);
        // The only scratch a refused call may take is the text buffer of a text kind.
        const auto count = [&out](const char* op) { return std::count(out.host_calls.begin(), out.host_calls.end(), op); };
        EXPECT_LE(count("mxCalloc"), count("mxGetString_730"));
    }
}

TEST(DropsmallMex, TooManyStoredEntriesIsRefusedBeforeAllocating)
{
    Array a = column_array({1.0, 2.0});
    standin::overstate_stored_entries(a.get(), uint64_t{1} << 31);
    Array one = standin::scalar(1.0);
    const standin::Outcome out = standin::call(dropsmall(), 2, {a.get(), one.get(), one.get(), one.get()});
    EXPECT_EQ(out.identifier, "dropsmall:tooManyEntries");
    EXPECT_EQ(out.message, "Too many stored entries.");
    EXPECT_EQ(out.arrays_created, 0u);
    EXPECT_EQ(out.scratch_peak_bytes, 0u);
}

TEST(DropsmallMex, TolAndRatioOfOtherClassesAreReadByValue)
{
    Array a = column_array({0.1, 0.3, 0.2, 5.0});
    Array tol = standin::full(mxSINGLE_CLASS, {1, 2}, {0.25, 7}), kind = standin::text("fro");
    Array ratio = standin::full(mxUINT8_CLASS, {1, 1}, {0});
    const standin::Outcome out = standin::call(dropsmall(), 2, {a.get(), tol.get(), kind.get(), ratio.get()});
    ASSERT_FALSE(out.failed) << out.message;
    EXPECT_EQ(standin::read_sparse(out.outputs[0].get()).pr, (std::vector<double>{0.3, 5.0}));
    EXPECT_EQ(standin::first_value(out.outputs[1].get()), 1.0);
}

// B must hold exactly A's entries above the search's final threshold, in A's order, with the
// capacity fitted, and the dropped part's norm must stay within tol.
TEST(DropsmallMex, RandomCallsKeepExactlyTheEntriesAboveTheThreshold)
{
    std::mt19937_64 rng(8122026);
    const NormKind kinds[] = {NORM_FRO, NORM_ONE, NORM_INF};
    for (int trial = 0; trial < 1500; ++trial) {
        SCOPED_TRACE(trial);
        ValueMix mix;
        mix.ties = trial % 2 == 0;
        mix.extremes = trial % 5 == 0;
        mix.specials = trial % 3 == 0;
        const TestMatrix m = random_shaped_matrix(rng, mix);
        const NormKind kind = kinds[trial % 3];
        std::uniform_real_distribution<double> unit(0.0, 1.5);
        const double scale = mix.extremes ? 1.0 : static_cast<double>(m.pr.size());
        const double tols[] = {0.0, unit(rng), unit(rng) * scale, 1e300};
        const double tol = tols[rng() % 4];
        const double ratios[] = {0.0, 1.0, -1.0, NAN, INF, unit(rng) * 3.0};
        const double ratio = ratios[rng() % 6];
        Array a = as_array(m);
        const Filtered f = run(a.get(), tol, kind, ratio);
        const Model expected = model_search(m, kind, tol, ratio);
        EXPECT_BITS(f.ratio, expected.ratio);
        standin::SparseContents want{m.nrows, m.ncols, 0, {0}, {}, {}};
        for (uint64_t j = 0; j < m.ncols; ++j) {
            for (uint64_t k = m.jc[j]; k < m.jc[j + 1]; ++k) {
                if (expected.threshold >= std::fabs(m.pr[k])) continue;
                want.ir.push_back(m.ir[k]);
                want.pr.push_back(m.pr[k]);
            }
            want.jc.push_back(want.pr.size());
        }
        EXPECT_EQ(f.b.jc, want.jc);
        EXPECT_EQ(f.b.ir, want.ir);
        EXPECT_TRUE(same_bits(f.b.pr, want.pr));
        EXPECT_EQ(f.b.nzmax, std::max<uint64_t>(want.pr.size(), 1));
        if (!std::isnan(tol)) {
            EXPECT_LE(kernel_norm(minus(m, f.b), kind), tol);
            const long double slack = 1.0L + static_cast<long double>(m.pr.size() + 4) * 0x1p-52L;
            EXPECT_LE(wide_norm(minus(m, f.b), kind), static_cast<long double>(tol) * slack);
        }
    }
}

// What every call promises, over thousands of seeded calls of every kind, shape, tie and
// extreme: spgauge(A - B, kind) <= tol exactly; and the same call with A and tol times 2^k,
// for magnitudes near 1 and k from -900 to 900, returns the same ratio and B times 2^k.
TEST(DropsmallMex, EveryResultIsWithinTolAndTheSameAtEveryScale)
{
    std::mt19937_64 rng(20261208);
    const NormKind kinds[] = {NORM_FRO, NORM_ONE, NORM_INF};
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 3000; ++trial) {
        SCOPED_TRACE(trial);
        ValueMix mix;
        mix.ties = trial % 2 == 0;
        mix.extremes = trial % 5 == 0;
        mix.specials = trial % 7 == 0;
        const TestMatrix m = random_shaped_matrix(rng, mix);
        const NormKind kind = kinds[trial % 3];
        double norm = kernel_norm(m, kind);
        if (!(norm < INF)) norm = 1.0;
        const double tols[] = {0.0, norm * unit(rng), norm * 0.999, norm, 1e-300, 1e300,
                               norm * 1e-3};
        const double tol = tols[rng() % 7];
        const double ratios[] = {0.0, 1.0, 0.5 + 4.0 * unit(rng), 1e-3, 1e3, -1.0, INF};
        const double ratio = ratios[rng() % 7];
        Array a = as_array(m);
        const Filtered f = run(a.get(), tol, kind, ratio);
        EXPECT_LE(kernel_norm(minus(m, f.b), kind), tol) << "tol " << tol << " ratio " << ratio;
    }
    for (int trial = 0; trial < 1500; ++trial) {
        SCOPED_TRACE(trial);
        ValueMix mix;
        mix.specials = mix.extremes = false;
        mix.ties = trial % 2 == 0;
        const TestMatrix m = random_shaped_matrix(rng, mix);
        const NormKind kind = kinds[trial % 3];
        const double tol = kernel_norm(m, kind) * (0.01 + unit(rng));
        const double ratios[] = {0.0, 1.0, 0.5 + 4.0 * unit(rng)};
        const double ratio = ratios[rng() % 3];
        const int k = static_cast<int>(rng() % 1801) - 900;
        TestMatrix scaled = m;
        for (double& x : scaled.pr) x = std::ldexp(x, k);
        Array a = as_array(m), b = as_array(scaled);
        const Filtered plain = run(a.get(), tol, kind, ratio);
        const Filtered at_k = run(b.get(), std::ldexp(tol, k), kind, ratio);
        EXPECT_BITS(at_k.ratio, plain.ratio) << "k " << k;
        std::vector<double> want = plain.b.pr;
        for (double& x : want) x = std::ldexp(x, k);
        EXPECT_TRUE(same_bits(at_k.b.pr, want)) << "k " << k;
        EXPECT_EQ(at_k.b.jc, plain.b.jc);
        EXPECT_EQ(at_k.b.ir, plain.b.ir);
    }
}

TEST(DropsmallMex, ReturnedRatioWarmStartsTheNextSimilarMatrix)
{
    std::mt19937_64 rng(42);
    TestMatrix m = random_matrix(rng, 300, 300, 0.05, ValueMix{false, false, false});
    std::normal_distribution<double> wobble(0.0, 0.02);
    for (NormKind kind : {NORM_FRO, NORM_ONE, NORM_INF}) {
        uint64_t cold_rounds = 0, warm_rounds = 0;
        double warm_ratio = 0.0;
        TestMatrix step = m;
        for (int t = 0; t < 12; ++t) {
            for (double& x : step.pr) x *= 1.0 + wobble(rng);
            const double tol = 0.3 * (kind == NORM_FRO ? 10.0 : 1.0);
            const SearchResult cold = search_alone(step, tol, kind, 0.0);
            const SearchResult warm = search_alone(step, tol, kind, warm_ratio);
            cold_rounds += cold.scan_rounds;
            warm_rounds += warm.scan_rounds;
            warm_ratio = warm.ratio;
            Array a = as_array(step);
            const Filtered f = run(a.get(), tol, kind, warm_ratio);
            EXPECT_LE(wide_norm(minus(step, f.b), kind), tol * (1.0 + 1e-12));
        }
        EXPECT_LT(warm_rounds, cold_rounds) << "kind " << kind;
        EXPECT_EQ(standin::live_scratch_blocks(), 0u);
    }
}
