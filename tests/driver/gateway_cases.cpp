// The case table of both extensions and its runner. Each case builds its inputs through the
// host, makes one call as a host does and compares everything the call leaves: the error's
// identifier and text, or the outputs bit for bit; how many slots were written; the inputs; and
// that nothing the call made or borrowed is still alive once inputs and outputs are gone.
#include "gateway_cases.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using standin::Array;

// An output the call must store: a 1-by-1 real double, or a real sparse matrix.
struct Output {
    bool sparse;
    double value;
    uint64_t nrows, ncols, nzmax;
    std::vector<uint64_t> jc, ir;
    std::vector<double> pr;
};

Output scalar_out(double x) { return {false, x, 1, 1, 0, {}, {}, {}}; }

Output sparse_out(uint64_t nrows, uint64_t ncols, std::vector<uint64_t> jc, std::vector<uint64_t> ir,
                  std::vector<double> pr)
{
    const uint64_t nzmax = pr.empty() ? 1 : pr.size();
    return {true, 0.0, nrows, ncols, nzmax, std::move(jc), std::move(ir), std::move(pr)};
}

struct Case {
    const char* what;
    int nlhs;
    std::function<std::vector<Array>()> inputs;
    const char* id;  // nullptr: the call succeeds and stores outputs
    const char* message;
    std::vector<Output> outputs;
};

// 3-by-3: [1 0 -2; 0 3 0; 4 0 5]
Array sample() { return standin::sparse(3, 3, {0, 2, 3, 5}, {0, 2, 1, 0, 2}, {1.0, 4.0, 3.0, -2.0, 5.0}); }

Array column(const std::vector<double>& values)
{
    std::vector<uint64_t> ir;
    for (uint64_t i = 0; i < values.size(); ++i) ir.push_back(i);
    return standin::sparse(values.size(), 1, {0, values.size()}, ir, values);
}

Array cube()
{
    Array a = standin::sparse(2, 2, {0, 1, 2}, {0, 1}, {1.0, 2.0});
    standin::set_dims(a.get(), {2, 2, 2});
    return a;
}

std::vector<Array> args(Array a) { std::vector<Array> v; v.push_back(std::move(a)); return v; }
std::vector<Array> args(Array a, Array b) { auto v = args(std::move(a)); v.push_back(std::move(b)); return v; }
std::vector<Array> args(Array a, Array b, Array c) { auto v = args(std::move(a), std::move(b)); v.push_back(std::move(c)); return v; }
std::vector<Array> args(Array a, Array b, Array c, Array d) { auto v = args(std::move(a), std::move(b), std::move(c)); v.push_back(std::move(d)); return v; }
std::vector<Array> args(Array a, Array b, Array c, Array d, Array e) { auto v = args(std::move(a), std::move(b), std::move(c), std::move(d)); v.push_back(std::move(e)); return v; }

Array text(const char* s) { return standin::text(s); }
Array num(double x) { return standin::scalar(x); }
Array str(const char* s) { return standin::string_scalar(s); }
Array full2x2() { return standin::full(mxDOUBLE_CLASS, {2, 2}, {1, 2, 3, 4}); }
Array complex1() { return standin::sparse_of_class(mxDOUBLE_CLASS, true, 1, 1, {0, 1}, {0}, {1.0}); }
Array logical1() { return standin::sparse_of_class(mxLOGICAL_CLASS, false, 1, 1, {0, 1}, {0}, {1.0}); }
Array cell() { return standin::opaque(mxCELL_CLASS); }

const char* const KIND = "Only for 1-norm, inf-norm and fro-norm.";
const double SQRT55 = std::sqrt(55.0);

// spgauge: every norm kind, every way of naming it, and every message in the order of its check.
std::vector<Case> spgauge_cases()
{
    return {
        {"1-norm", 1, [] { return args(sample(), num(1)); }, nullptr, nullptr, {scalar_out(7.0)}},
        {"inf-norm", 1, [] { return args(sample(), text("inf")); }, nullptr, nullptr, {scalar_out(9.0)}},
        {"fro-norm", 1, [] { return args(sample(), text("fro")); }, nullptr, nullptr, {scalar_out(SQRT55)}},
        {"no output asked", 0, [] { return args(sample(), num(1)); }, nullptr, nullptr, {scalar_out(7.0)}},
        {"fro as a string object", 1, [] { return args(sample(), str("fro")); }, nullptr, nullptr, {scalar_out(SQRT55)}},
        {"inf as a string object", 1, [] { return args(sample(), str("inf")); }, nullptr, nullptr, {scalar_out(9.0)}},
        {"row vector: a matrix norm", 1, [] { return args(standin::sparse(1, 3, {0, 1, 2, 3}, {0, 0, 0}, {3.0, -4.0, 1.0}), num(1)); },
         nullptr, nullptr, {scalar_out(4.0)}},
        {"empty matrix", 1, [] { return args(standin::sparse(0, 0, {0}, {}, {}), text("inf")); }, nullptr, nullptr, {scalar_out(0.0)}},
        {"one input", 1, [] { return args(sample()); }, "spgauge:nargin", "Two inputs required.", {}},
        {"three inputs", 2, [] { return args(full2x2(), text("x"), text("x")); }, "spgauge:nargin", "Two inputs required.", {}},
        {"two outputs", 2, [] { return args(full2x2(), text("x")); }, "spgauge:nargout", "Too many output arguments", {}},
        {"full matrix", 1, [] { return args(full2x2(), text("x")); }, "spgauge:notSparse", "Input must be a sparse matrix.", {}},
        {"complex matrix", 1, [] { return args(complex1(), text("x")); }, "spgauge:notRealDouble", "Input must be noncomplex double.", {}},
        {"logical matrix", 1, [] { return args(logical1(), text("x")); }, "spgauge:notRealDouble", "Input must be noncomplex double.", {}},
        {"three dimensions", 1, [] { return args(cube(), text("x")); }, "spgauge:notTwoDimensional",
         "Input argument must be two dimensional \n", {}},
        {"kind 'FRO'", 1, [] { return args(sample(), text("FRO")); }, "spgauge:kind", KIND, {}},
        {"kind 2", 1, [] { return args(sample(), num(2)); }, "spgauge:kind", KIND, {}},
        {"kind \"Inf\"", 1, [] { return args(sample(), str("Inf")); }, "spgauge:kind", KIND, {}},
        {"kind [\"fro\" \"inf\"]", 1, [] { return args(sample(), standin::string_object({"fro", "inf"}, {1, 2})); },
         "spgauge:kind", KIND, {}},
        {"kind {}", 1, [] { return args(sample(), cell()); }, "spgauge:kind", KIND, {}},
    };
}

// dropsmall: worked examples with both outputs and one, and every message in order.
std::vector<Case> dropsmall_cases()
{
    const char* const TOL = "Tolerance must be a nonnegative number.";
    const char* const RATIO = "Ratio must be a number.";
    return {
        {"fro: all kept", 2, [] { return args(column({1, 1, 1, 1}), num(1), text("fro"), num(1)); }, nullptr, nullptr,
         {sparse_out(4, 1, {0, 4}, {0, 1, 2, 3}, {1, 1, 1, 1}), scalar_out(2.0)}},
        {"fro: two dropped", 2, [] { return args(column({0.1, 0.3, 0.2, 5.0}), num(0.25), text("fro"), num(1)); }, nullptr, nullptr,
         {sparse_out(4, 1, {0, 2}, {1, 3}, {0.3, 5.0}), scalar_out(1.0)}},
        {"1-norm", 2, [] { return args(column({0.3, 0.4, 5.0}), num(0.5), num(1), num(1)); }, nullptr, nullptr,
         {sparse_out(3, 1, {0, 2}, {1, 2}, {0.4, 5.0}), scalar_out(1.4)}},
        {"inf-norm across a row", 2,
         [] { return args(standin::sparse(1, 3, {0, 1, 2, 3}, {0, 0, 0}, {0.3, 0.4, 5.0}), num(0.5), text("inf"), num(1)); },
         nullptr, nullptr, {sparse_out(1, 3, {0, 0, 1, 2}, {0, 0}, {0.4, 5.0}), scalar_out(1.4)}},
        {"everything dropped: capacity 1", 2,
         [] { return args(standin::sparse(3, 4, {0, 1, 1, 2, 2}, {2, 0}, {0.5, -0.25}), num(10), text("fro"), num(0)); },
         nullptr, nullptr, {sparse_out(3, 4, {0, 0, 0, 0, 0}, {}, {}), scalar_out(1.0)}},
        {"NaN kept, Inf kept", 1, [] { return args(column({NAN, INFINITY, -INFINITY, 1.0}), num(2), num(1), num(0)); },
         nullptr, nullptr, {sparse_out(4, 1, {0, 3}, {0, 1, 2}, {NAN, INFINITY, -INFINITY})}},
        {"fro as a string object, one output", 1, [] { return args(column({0.1, 3.0}), num(0.5), str("fro"), num(0)); },
         nullptr, nullptr, {sparse_out(2, 1, {0, 1}, {1}, {3.0})}},
        {"cold start from tol: nothing dropped", 2,
         [] { return args(column(std::vector<double>(100, 0.5)), num(1), text("fro"), num(0)); }, nullptr, nullptr,
         {sparse_out(100, 1, {0, 100}, [] { std::vector<uint64_t> ir; for (uint64_t i = 0; i < 100; ++i) ir.push_back(i); return ir; }(),
                     std::vector<double>(100, 0.5)),
          scalar_out(5.0)}},
        {"three inputs", 3, [] { return args(full2x2(), text("fro"), text("Fro")); }, "dropsmall:nargin", "Four inputs required.", {}},
        {"five inputs", 1, [] { return args(column({1, 2}), num(1), text("fro"), num(1), num(1)); }, "dropsmall:nargin",
         "Four inputs required.", {}},
        {"three outputs", 3, [] { return args(full2x2(), num(-1), text("Fro"), cell()); }, "dropsmall:nargout",
         "Too many output arguments", {}},
        {"full matrix", 2, [] { return args(full2x2(), num(-1), text("Fro"), cell()); }, "dropsmall:notSparse",
         "Input must be a sparse matrix.", {}},
        {"complex matrix", 2, [] { return args(complex1(), num(-1), text("Fro"), cell()); }, "dropsmall:notRealDouble",
         "Input must be noncomplex double.", {}},
        {"three dimensions", 2, [] { return args(cube(), num(-1), text("Fro"), cell()); }, "dropsmall:notTwoDimensional",
         "Input argument must be two dimensional \n", {}},
        {"kind 'Fro'", 2, [] { return args(column({1, 2}), num(-1), text("Fro"), cell()); }, "dropsmall:kind", KIND, {}},
        {"negative tol", 2, [] { return args(column({1, 2}), num(-1), str("fro"), cell()); }, "dropsmall:tolerance", TOL, {}},
        {"empty tol", 2, [] { return args(column({1, 2}), standin::full(mxDOUBLE_CLASS, {0, 0}, {}), text("fro"), cell()); },
         "dropsmall:tolerance", TOL, {}},
        {"text ratio", 2, [] { return args(column({1, 2}), num(1), text("fro"), text("0")); }, "dropsmall:ratio", RATIO, {}},
        {"too many stored entries", 2,
         [] {
             Array a = column({1, 2});
             standin::overstate_stored_entries(a.get(), uint64_t{1} << 31);
             return args(std::move(a), num(1), num(1), num(1));
         },
         "dropsmall:tooManyEntries", "Too many stored entries.", {}},
    };
}

// dropmost: worked examples with every output count, and every message in order.
std::vector<Case> dropmost_cases()
{
    const char* const TOL = "Tolerance must be a nonnegative number.";
    return {
        {"1-norm: the column's three smallest fit", 3, [] { return args(column({0.1, 0.3, 0.2, 5.0}), num(0.6000000000000001), num(1)); },
         nullptr, nullptr, {sparse_out(4, 1, {0, 1}, {3}, {5.0}), scalar_out(0.3), scalar_out(0.6000000000000001)}},
        {"1-norm: one ulp less keeps 0.3", 3, [] { return args(column({0.1, 0.3, 0.2, 5.0}), num(0.6), num(1)); },
         nullptr, nullptr, {sparse_out(4, 1, {0, 2}, {1, 3}, {0.3, 5.0}), scalar_out(0.2), scalar_out(0.30000000000000004)}},
        {"fro: ties go together", 2, [] { return args(column({1, 1, 1, 2}), num(1.7320508075688772), text("fro")); },
         nullptr, nullptr, {sparse_out(4, 1, {0, 1}, {3}, {2.0}), scalar_out(1.0)}},
        {"inf-norm across a row, one output", 1,
         [] { return args(standin::sparse(1, 3, {0, 1, 2, 3}, {0, 0, 0}, {0.3, 0.4, 5.0}), num(0.7), str("inf")); },
         nullptr, nullptr, {sparse_out(1, 3, {0, 0, 0, 1}, {0}, {5.0})}},
        {"tol Inf: all but NaN, capacity 1", 3, [] { return args(column({NAN, INFINITY, -2.0}), num(INFINITY), num(1)); },
         nullptr, nullptr, {sparse_out(3, 1, {0, 1}, {0}, {NAN}), scalar_out(INFINITY), scalar_out(INFINITY)}},
        {"everything dropped: capacity 1", 2,
         [] { return args(standin::sparse(3, 4, {0, 1, 1, 2, 2}, {2, 0}, {0.5, -0.25}), num(10), text("fro")); },
         nullptr, nullptr, {sparse_out(3, 4, {0, 0, 0, 0, 0}, {}, {}), scalar_out(0.5)}},
        {"two inputs", 3, [] { return args(full2x2(), text("Fro")); }, "dropmost:nargin", "Three inputs required.", {}},
        {"four outputs", 4, [] { return args(full2x2(), num(-1), text("Fro")); }, "dropmost:nargout",
         "Too many output arguments", {}},
        {"full matrix", 3, [] { return args(full2x2(), num(-1), text("Fro")); }, "dropmost:notSparse",
         "Input must be a sparse matrix.", {}},
        {"complex matrix", 3, [] { return args(complex1(), num(-1), text("Fro")); }, "dropmost:notRealDouble",
         "Input must be noncomplex double.", {}},
        {"three dimensions", 3, [] { return args(cube(), num(-1), text("Fro")); }, "dropmost:notTwoDimensional",
         "Input argument must be two dimensional \n", {}},
        {"kind 'Fro'", 3, [] { return args(column({1, 2}), num(-1), text("Fro")); }, "dropmost:kind", KIND, {}},
        {"negative tol", 3, [] { return args(column({1, 2}), num(-1), str("fro")); }, "dropmost:tolerance", TOL, {}},
        {"NaN tol", 3, [] { return args(column({1, 2}), num(NAN), num(1)); }, "dropmost:tolerance", TOL, {}},
        {"two tols", 3, [] { return args(column({1, 2}), standin::full(mxDOUBLE_CLASS, {1, 2}, {1, 2}), num(1)); },
         "dropmost:tolerance", TOL, {}},
    };
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// "" when the output matches, else what differs.
std::string output_difference(const mxArray* got, const Output& want)
{
    if (got == nullptr) return "nothing stored";
    if (!want.sparse) {
        if (!standin::is_real_double_scalar(got)) return "not a 1-by-1 real double";
        const double x = standin::first_value(got);
        if (!same_bits(x, want.value))
            return "value " + std::to_string(x) + ", expected " + std::to_string(want.value);
        return "";
    }
    const std::string defect = standin::sparse_defect(got);
    if (!defect.empty()) return "malformed sparse matrix: " + defect;
    const standin::SparseContents c = standin::read_sparse(got);
    if (c.nrows != want.nrows || c.ncols != want.ncols) return "wrong size";
    if (c.jc != want.jc) return "column pointers differ";
    if (c.ir != want.ir) return "row indices differ";
    if (!same_bits(c.pr, want.pr)) return "values differ";
    if (c.nzmax != want.nzmax) return "capacity " + std::to_string(c.nzmax) + ", expected " + std::to_string(want.nzmax);
    return "";
}

// Every difference between what the call left and what the case expects, one per line.
std::string case_faults(const Case& c, const standin::Outcome& out)
{
    std::string faults;
    const auto fault = [&faults](const std::string& f) { faults += "    " + f + "\n"; };
    if (c.id != nullptr) {
        if (!out.failed) fault("no error; expected " + std::string(c.id));
        if (out.identifier != c.id) fault("identifier '" + out.identifier + "', expected '" + c.id + "'");
        if (out.message != c.message) fault("message '" + out.message + "', expected '" + c.message + "'");
        if (out.arrays_created != 0) fault("a failed call created an output first");
    } else {
        if (out.failed) fault("failed: " + out.identifier + " " + out.message);
        const size_t slots = static_cast<size_t>(c.nlhs > 0 ? c.nlhs : 1);
        if (out.outputs.size() != slots) fault("slots given " + std::to_string(out.outputs.size()));
        if (c.outputs.size() != slots) fault("the case expects " + std::to_string(c.outputs.size()) + " outputs");
        for (size_t k = 0; k < c.outputs.size() && k < out.outputs.size(); ++k) {
            const std::string d = output_difference(out.outputs[k].get(), c.outputs[k]);
            if (!d.empty()) fault("output " + std::to_string(k + 1) + ": " + d);
        }
        if (out.stray_arrays != 0) fault("arrays made but not returned");
    }
    if (out.wrote_past_slots) fault("stored beyond the output slots");
    if (out.inputs_changed) fault("changed an input");
    if (out.scratch_left != 0) fault("scratch left: " + std::to_string(out.scratch_left));
    if (out.blocks_leaked != 0) fault("blocks replaced and never released: " + std::to_string(out.blocks_leaked));
    return faults;
}

std::string run_case(const Case& c, standin::MexFunction fn)
{
    std::string faults;
    {
        std::vector<Array> inputs = c.inputs();
        std::vector<const mxArray*> raw;
        for (const Array& a : inputs) raw.push_back(a.get());
        const standin::Outcome out = standin::call(fn, c.nlhs, raw);
        faults = case_faults(c, out);
    }
    if (standin::live_arrays() != 0 || standin::live_blocks() != 0)
        faults += "    left alive: " + std::to_string(standin::live_arrays()) + " arrays, " +
                  std::to_string(standin::live_blocks()) + " blocks\n";
    return faults;
}

}  // namespace

int run_gateway_cases(const char* name, standin::MexFunction fn)
{
    std::vector<Case> cases;
    if (std::strcmp(name, "spgauge") == 0) cases = spgauge_cases();
    else if (std::strcmp(name, "dropsmall") == 0) cases = dropsmall_cases();
    else if (std::strcmp(name, "dropmost") == 0) cases = dropmost_cases();
    else return -1;
    int failed = 0;
    for (const Case& c : cases) {
        const std::string faults = run_case(c, fn);
        std::printf("%s %s: %s\n", faults.empty() ? "ok  " : "FAIL", name, c.what);
        if (!faults.empty()) {
            std::printf("%s", faults.c_str());
            ++failed;
        }
    }
    std::printf("%s: %d of %zu cases passed\n", name, static_cast<int>(cases.size()) - failed, cases.size());
    std::fflush(stdout);
    return failed;
}
