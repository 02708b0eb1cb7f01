// Host allocations that fail inside a call. A real host never hands back nothing there: it ends
// the call with its out-of-memory error and releases what the call had taken. Each request of a
// successful call is failed in turn; every one must end the call with that error, leave the
// inputs as they were, store nothing past the output slots and leave nothing alive once the host
// has cleaned up; the call must then succeed again with the same result.
#include "standin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using standin::Array;

const std::string OUT_OF_MEMORY = "Out of memory.";

struct Case {
    std::string name;
    int nlhs;
    std::vector<const mxArray*> inputs;
};

// Everything a successful call returned, bit for bit, to compare a repeated call with.
std::string result_bits(const standin::Outcome& out)
{
    std::string s;
    for (const Array& a : out.outputs) {
        if (!a) {
            s += "-";
        } else if (standin::sparse_defect(a.get()).empty()) {
            const standin::SparseContents b = standin::read_sparse(a.get());
            s.append(reinterpret_cast<const char*>(b.jc.data()), b.jc.size() * 8);
            s.append(reinterpret_cast<const char*>(b.ir.data()), b.ir.size() * 8);
            s.append(reinterpret_cast<const char*>(b.pr.data()), b.pr.size() * 8);
            s += std::to_string(b.nzmax);
        } else {
            const double x = standin::first_value(a.get());
            s.append(reinterpret_cast<const char*>(&x), sizeof x);
        }
        s += "|";
    }
    return s;
}

// Fails each allocation request of the case in turn; returns how many requests it makes.
long fail_each_allocation(standin::MexFunction fn, const Case& c)
{
    const size_t arrays_before = standin::live_arrays(), blocks_before = standin::live_blocks();
    standin::fail_allocation_at(0);
    standin::Outcome first = standin::call(fn, c.nlhs, c.inputs);
    const long requests = standin::allocations_requested();
    EXPECT_FALSE(first.failed) << c.name << ": " << first.message;
    EXPECT_GT(requests, 0) << c.name;
    const std::string expected = result_bits(first);
    first.outputs.clear();

    for (long n = 1; n <= requests; ++n) {
        standin::fail_allocation_at(n);
        const standin::Outcome out = standin::call(fn, c.nlhs, c.inputs);
        const long reached = standin::allocations_requested();
        standin::fail_allocation_at(0);
        const std::string at = c.name + ", request " + std::to_string(n) + " of " + std::to_string(requests);
        EXPECT_TRUE(out.failed) << at;
        EXPECT_EQ(out.message, OUT_OF_MEMORY) << at;
        EXPECT_EQ(reached, n) << at << ": the call went on after the failed request";
        EXPECT_FALSE(out.inputs_changed) << at;
        EXPECT_FALSE(out.wrote_past_slots) << at;
        EXPECT_EQ(standin::live_arrays(), arrays_before) << at << ": an array outlived the call";
        EXPECT_EQ(standin::live_blocks(), blocks_before) << at << ": a block outlived the call";
    }

    // A failed call leaves nothing behind that changes the next one.
    standin::Outcome again = standin::call(fn, c.nlhs, c.inputs);
    EXPECT_FALSE(again.failed) << c.name << ": " << again.message;
    EXPECT_EQ(result_bits(again), expected) << c.name;
    EXPECT_EQ(standin::allocations_requested(), requests) << c.name;
    again.outputs.clear();
    EXPECT_EQ(standin::live_blocks(), blocks_before) << c.name;
    return requests;
}

Array column(const std::vector<double>& values)
{
    std::vector<uint64_t> ir;
    for (uint64_t i = 0; i < values.size(); ++i) ir.push_back(i);
    return standin::sparse(values.size(), 1, {0, values.size()}, ir, values);
}

// 4-by-3 with a spread of magnitudes, so that a search takes several passes.
Array spread()
{
    return standin::sparse(4, 3, {0, 3, 5, 8}, {0, 1, 3, 0, 2, 1, 2, 3},
                           {1e-9, -0.25, 4.0, 0.5, -1e-3, 0.125, 2.0, -0.0625});
}

// A row-sum array for this many rows would take 2^64 bytes: a host that multiplies count by size
// without a check (GNU Octave's mxCalloc does) would hand back a block of none.
constexpr uint64_t HUGE_ROWS = uint64_t{1} << 61;

// The most any call on these few entries may ask of the host, whatever its row count.
constexpr size_t FEW_ENTRIES_BYTES = 4096;

}  // namespace

#ifdef SPGAUGE_MODULE
TEST(AllocationFailures, EverySpgaugeRequestEndsTheCallCleanly)
{
    const standin::MexFunction fn = standin::load_mex(SPGAUGE_MODULE);
    Array a = spread(), empty = standin::sparse(0, 0, {0}, {}, {});
    Array tall = standin::sparse(HUGE_ROWS, 2, {0, 2, 3}, {7, HUGE_ROWS - 1, 7}, {1.0, -2.0, 3.0});
    Array fro = standin::text("fro"), inf = standin::text("inf"), one = standin::scalar(1.0);
    Array inf_string = standin::string_scalar("inf");
    const Case cases[] = {
        {"fro", 1, {a.get(), fro.get()}},
        {"one", 0, {a.get(), one.get()}},
        {"inf", 1, {a.get(), inf.get()}},
        {"inf of an empty matrix", 1, {empty.get(), inf.get()}},
        {"inf of more rows than entries", 1, {tall.get(), inf.get()}},
        {"inf as a string object", 1, {a.get(), inf_string.get()}},
    };
    // Requests: the text converted by char (string objects only), the text buffer (texts only),
    // the result, the row sums (infinity norm only), and where the rows outnumber the entries
    // two blocks to number the rows that hold them.
    const long requests[] = {2, 1, 3, 3, 5, 4};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(fail_each_allocation(fn, cases[i]), requests[i]) << cases[i].name;
}

TEST(HostRequests, RowCountNeverReachesTheHost)
{
    const standin::MexFunction fn = standin::load_mex(SPGAUGE_MODULE);
    Array inf = standin::text("inf");
    Array huge = standin::sparse(HUGE_ROWS, 1, {0, 1}, {HUGE_ROWS - 1}, {2.0});
    Array wide_rows = standin::sparse(uint64_t{1} << 40, 3, {0, 2, 2, 3},
                                      {5, (uint64_t{1} << 40) - 1, 5}, {1.5, -4.0, 2.5});
    const struct {
        const mxArray* a;
        double norm;
    } cases[] = {{huge.get(), 2.0}, {wide_rows.get(), 4.0}};
    const size_t blocks_before = standin::live_blocks();
    for (const auto& c : cases) {
        standin::Outcome out = standin::call(fn, 1, {c.a, inf.get()});
        ASSERT_FALSE(out.failed) << out.message;
        EXPECT_EQ(standin::first_value(out.outputs[0].get()), c.norm);
        EXPECT_LE(out.requested_bytes, FEW_ENTRIES_BYTES);
        EXPECT_FALSE(out.inputs_changed);
    }
    EXPECT_EQ(standin::live_blocks(), blocks_before);
}

// A request whose count times size overflows is a fault of the caller, not a refusal: the
// stand-in ends the program as a host that wraps the product would go on to corrupt memory.
TEST(HostRequestsDeathTest, WrappedProductEndsTheProgram)
{
    EXPECT_DEATH(mxCalloc(HUGE_ROWS, sizeof(double)), "overflows size_t");
}
#endif

#ifdef DROPSMALL_MODULE
TEST(AllocationFailures, EveryDropsmallRequestEndsTheCallCleanly)
{
    const standin::MexFunction fn = standin::load_mex(DROPSMALL_MODULE);
    Array a = spread(), empty = standin::sparse(3, 0, {0}, {}, {}), tiny = column({1e-9, -1.0});
    Array tall = standin::sparse(HUGE_ROWS, 3, {0, 2, 3, 5}, {7, HUGE_ROWS - 1, 7, 0, 7},
                                 {0.1, -0.2, 0.3, 0.05, 0.5});
    Array fro = standin::text("fro"), inf = standin::text("inf"), one = standin::scalar(1.0);
    Array tol = standin::scalar(0.2), zero = standin::scalar(0.0), nan = standin::scalar(NAN);
    Array big_ratio = standin::scalar(1e-6), one_tol = standin::scalar(1.0);
    const Case cases[] = {
        // Several passes, the counts exact: no trimming.
        {"fro", 2, {a.get(), tol.get(), fro.get(), big_ratio.get()}},
        {"one", 2, {a.get(), tol.get(), one.get(), big_ratio.get()}},
        {"inf", 2, {a.get(), tol.get(), inf.get(), big_ratio.get()}},
        {"inf, one output", 1, {a.get(), tol.get(), inf.get(), zero.get()}},
        // No pass (NaN ratio starts at the floor): B is made at A's size, then trimmed.
        {"fro from the floor", 2, {tiny.get(), one_tol.get(), fro.get(), nan.get()}},
        {"one, NaN tol", 0, {a.get(), nan.get(), one.get(), zero.get()}},
        {"fro of a matrix without columns", 2, {empty.get(), tol.get(), fro.get(), zero.get()}},
        {"inf of more rows than entries", 2, {tall.get(), tol.get(), inf.get(), big_ratio.get()}},
    };
    for (const Case& c : cases) EXPECT_GT(fail_each_allocation(fn, c), 1) << c.name;
}

TEST(HostRequests, DropsmallAsksForTheStoredEntriesOnly)
{
    const standin::MexFunction fn = standin::load_mex(DROPSMALL_MODULE);
    Array huge = standin::sparse(HUGE_ROWS, 2, {0, 1, 2}, {0, HUGE_ROWS - 1}, {2.0, 1e-9});
    Array wide_rows = standin::sparse(uint64_t{1} << 40, 3, {0, 2, 2, 3},
                                      {5, (uint64_t{1} << 40) - 1, 5}, {1.5, -4e-9, 2.5});
    Array tol = standin::scalar(0.5), ratio = standin::scalar(0.0);
    const size_t blocks_before = standin::live_blocks();
    for (const char* kind : {"inf", "fro"}) {
        Array k = standin::text(kind);
        for (const mxArray* a : {huge.get(), wide_rows.get()}) {
            standin::Outcome out = standin::call(fn, 2, {a, tol.get(), k.get(), ratio.get()});
            ASSERT_FALSE(out.failed) << kind << ": " << out.message;
            const standin::SparseContents b = standin::read_sparse(out.outputs[0].get());
            EXPECT_EQ(b.pr.size(), a == huge.get() ? 1u : 2u) << kind;  // the tiny entry goes
            EXPECT_LE(out.requested_bytes, FEW_ENTRIES_BYTES) << kind;
        }
    }
    EXPECT_EQ(standin::live_blocks(), blocks_before);
}
#endif

#ifdef DROPMOST_MODULE
TEST(AllocationFailures, EveryDropmostRequestEndsTheCallCleanly)
{
    const standin::MexFunction fn = standin::load_mex(DROPMOST_MODULE);
    Array a = spread(), empty = standin::sparse(3, 0, {0}, {}, {});
    Array tall = standin::sparse(HUGE_ROWS, 3, {0, 2, 3, 5}, {7, HUGE_ROWS - 1, 7, 0, 7},
                                 {0.1, -0.2, 0.3, 0.05, 0.5});
    std::vector<double> many(5000);
    for (size_t k = 0; k < many.size(); ++k) many[k] = std::ldexp(1.0 + 0.001 * k, -int(k % 9));
    Array long_column = column(many);
    Array fro = standin::text("fro"), inf = standin::text("inf"), one = standin::scalar(1.0);
    Array tol = standin::scalar(0.2), zero = standin::scalar(0.0), all = standin::scalar(INFINITY);
    Array wide_tol = standin::scalar(40.0);
    const Case cases[] = {
        {"fro", 3, {a.get(), tol.get(), fro.get()}},
        {"one", 3, {a.get(), tol.get(), one.get()}},
        {"inf, one output", 1, {a.get(), tol.get(), inf.get()}},
        {"tol 0", 2, {a.get(), zero.get(), inf.get()}},
        {"tol Inf", 3, {a.get(), all.get(), one.get()}},
        {"fro of a matrix without columns", 3, {empty.get(), tol.get(), fro.get()}},
        {"inf of more rows than entries", 3, {tall.get(), tol.get(), inf.get()}},
        // Histograms of the magnitudes before the window is sorted.
        {"fro of a long column", 3, {long_column.get(), wide_tol.get(), fro.get()}},
        {"one of a long column", 3, {long_column.get(), wide_tol.get(), one.get()}},
    };
    for (const Case& c : cases) EXPECT_GT(fail_each_allocation(fn, c), 1) << c.name;
}

TEST(HostRequests, DropmostAsksForTheStoredEntriesOnly)
{
    const standin::MexFunction fn = standin::load_mex(DROPMOST_MODULE);
    Array huge = standin::sparse(HUGE_ROWS, 2, {0, 1, 2}, {0, HUGE_ROWS - 1}, {2.0, 1e-9});
    Array wide_rows = standin::sparse(uint64_t{1} << 40, 3, {0, 2, 2, 3},
                                      {5, (uint64_t{1} << 40) - 1, 5}, {1.5, -4e-9, 2.5});
    Array tol = standin::scalar(0.5);
    const size_t blocks_before = standin::live_blocks();
    for (const char* kind : {"inf", "fro"}) {
        Array k = standin::text(kind);
        for (const mxArray* a : {huge.get(), wide_rows.get()}) {
            standin::Outcome out = standin::call(fn, 3, {a, tol.get(), k.get()});
            ASSERT_FALSE(out.failed) << kind << ": " << out.message;
            const standin::SparseContents b = standin::read_sparse(out.outputs[0].get());
            EXPECT_EQ(b.pr.size(), a == huge.get() ? 1u : 2u) << kind;  // the tiny entry goes
            EXPECT_LE(out.requested_bytes, FEW_ENTRIES_BYTES) << kind;
        }
    }
    EXPECT_EQ(standin::live_blocks(), blocks_before);
}
#endif
