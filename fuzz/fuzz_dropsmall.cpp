// Fuzzes [B, ratio] = dropsmall(A, tol, kind, ratio) through the stand-in host: any number of
// inputs and outputs, arguments of every class and shape, valid sparse matrices holding awkward
// values, tol and ratio across the whole range of doubles, claims of more stored entries than a
// call may take, and now and then a host allocation that fails. Every call must end in one of
// the fixed messages or return a valid sparse B of A's size holding A's largest entries and no
// more capacity than it needs, the dropped part within tol exactly as spgauge measures it, and
// the ratio as a 1-by-1 double.
#include "fuzz_support.h"
#include "kernel_scratch.h"

namespace {

// Every error the call may raise, "identifier|message".
const std::vector<std::string> MESSAGES = {
    "dropsmall:nargin|Four inputs required.",
    "dropsmall:nargout|Too many output arguments",
    "dropsmall:notSparse|Input must be a sparse matrix.",
    "dropsmall:notRealDouble|Input must be noncomplex double.",
    "dropsmall:notTwoDimensional|Input argument must be two dimensional \n",
    "dropsmall:kind|Only for 1-norm, inf-norm and fro-norm.",
    "dropsmall:tolerance|Tolerance must be a nonnegative number.",
    "dropsmall:ratio|Ratio must be a number.",
    "dropsmall:tooManyEntries|Too many stored entries.",
};

// tol: now and then on the scale of A's entries, so that the search has work to do.
double any_tolerance(fuzz::ByteReader& in, const fuzz::Csc& a)
{
    if (a.pr.empty() || in.chance(50)) return fuzz::any_double(in);
    const double scale = std::fabs(a.pr[in.below(a.pr.size())]);
    return std::ldexp(scale, static_cast<int>(in.byte() % 16) - 6) * (1.0 + in.byte() / 256.0);
}

// ratio: any double, or a plausible warm start.
double any_ratio(fuzz::ByteReader& in)
{
    if (in.chance(60)) return fuzz::any_double(in);
    return std::ldexp(1.0 + in.byte() / 256.0, static_cast<int>(in.byte() % 24) - 12);
}

// B must hold, column by column and in order, a subset of A's entries with their rows and
// bits; every dropped entry must be smaller than every kept one other than NaN, and no NaN may be
// dropped. Returns the dropped values with their columns and rows.
struct Dropped {
    std::vector<double> values;
    std::vector<uint64_t> cols, rows;
};

Dropped check_subset(const standin::SparseContents& a, const standin::SparseContents& b)
{
    if (b.nrows != a.nrows || b.ncols != a.ncols) fuzz::fault("B does not have A's size");
    if (b.nzmax != std::max<uint64_t>(b.jc.back(), 1)) fuzz::fault("B's capacity is not fitted");
    Dropped d;
    double largest_dropped = -1.0, smallest_kept = INFINITY;
    bool kept_any = false;  // other than NaN
    for (uint64_t j = 0; j < a.ncols; ++j) {
        uint64_t kb = b.jc[j];
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k) {
            const double x = a.pr[k];
            if (kb < b.jc[j + 1] && b.ir[kb] == a.ir[k]) {
                if (bits_of(b.pr[kb]) != bits_of(x)) fuzz::fault("B changed a value");
                if (!std::isnan(x)) smallest_kept = std::min(smallest_kept, std::fabs(x)), kept_any = true;
                ++kb;
                continue;
            }
            if (std::isnan(x)) fuzz::fault("a NaN entry was dropped");
            largest_dropped = std::max(largest_dropped, std::fabs(x));
            d.values.push_back(x);
            d.cols.push_back(j);
            d.rows.push_back(a.ir[k]);
        }
        if (kb != b.jc[j + 1]) fuzz::fault("B holds an entry that A does not");
    }
    if (kept_any && !(largest_dropped < smallest_kept))
        fuzz::fault("a dropped entry is not below every kept one; A " + fuzz::describe(a) +
                    "; B " + fuzz::describe(b));
    return d;
}

// The dropped part within tol exactly, as spgauge measures it: its entries in A's order, their
// sums in storage order.
void check_bound(const Dropped& d, uint64_t nrows, uint64_t ncols, double tol, int kind,
                 const std::string& context)
{
    std::vector<uint64_t> jc(ncols + 1, 0);
    for (uint64_t j : d.cols) ++jc[j + 1];
    for (uint64_t j = 0; j < ncols; ++j) jc[j + 1] += jc[j];
    const uint64_t n = d.values.size();
    double norm = 0.0;
    if (kind == 0) norm = frobenius_norm(d.values.data(), n);
    if (kind == 1) norm = one_norm(d.values.data(), jc.data(), ncols);
    if (kind == 2) norm = inf_norm_with_scratch(d.values.data(), d.rows.data(), n, nrows);
    if (!(norm <= tol))
        fuzz::fault("dropped part's norm " + fuzz::hex(norm) + " exceeds tol " + fuzz::hex(tol) +
                    " for kind " + std::to_string(kind) + "; " + context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ByteReader in(data, size);
    standin::set_allocation_limit(fuzz::HOST_MEMORY);
    const int nlhs = in.byte() % 4;
    const int nrhs = in.chance(85) ? 4 : in.byte() % 7;
    const fuzz::ArgShape expected[] = {fuzz::SPARSE_DOUBLE, fuzz::NUMBER, fuzz::KIND, fuzz::NUMBER};
    {
        fuzz::Arguments args;
        int kind = -1;
        bool tol_known = false, overstated = false;
        double tol = 0.0, ratio = NAN;  // ratio: for reports only
        for (int i = 0; i < nrhs; ++i) {
            const fuzz::ArgShape shape = fuzz::pick_shape(in, i < 4 ? expected[i] : fuzz::NUMBER);
            args.intended_kind = -1;
            const double number = i == 1 ? any_tolerance(in, args.matrix) : any_ratio(in);
            args.inputs.push_back(fuzz::any_argument(in, args, shape, number));
            if (i == 0 && shape == fuzz::SPARSE_DOUBLE && args.matrix.ncols > 0 && in.chance(3)) {
                // More stored entries than candidate positions can name: refused before reading.
                standin::overstate_stored_entries(args.owned.back().get(), (uint64_t{1} << 31) + in.byte());
                overstated = true;
            }
            if (i == 1 && shape == fuzz::NUMBER) tol_known = true, tol = args.number_read;
            if (i == 3 && shape == fuzz::NUMBER) ratio = args.number_read;
            if (i == 2) kind = args.intended_kind;
        }
        const long fail_at = fuzz::pick_failing_allocation(in);
        const long refused_before = standin::allocations_refused();
        standin::fail_allocation_at(fail_at);
        standin::Outcome out = standin::call(mexFunction, nlhs, args.inputs);
        const bool oom_expected = fail_at > 0 && standin::allocations_requested() == fail_at;
        standin::fail_allocation_at(0);
        fuzz::check_outcome(out, MESSAGES, oom_expected, refused_before);
        if (!out.failed) {
            if (overstated) fuzz::fault("a matrix claiming 2^31 stored entries was accepted");
            if (out.outputs.size() != static_cast<size_t>(std::max(nlhs, 1)) || !out.outputs[0])
                fuzz::fault("outputs missing");
            const std::string defect = standin::sparse_defect(out.outputs[0].get());
            if (!defect.empty()) fuzz::fault("B is malformed: " + defect);
            if (nlhs >= 2 && !(out.outputs[1] && standin::is_real_double_scalar(out.outputs[1].get())))
                fuzz::fault("ratio is not a 1-by-1 real double");
            const standin::SparseContents a = standin::read_sparse(args.inputs[0]);
            const Dropped d = check_subset(a, standin::read_sparse(out.outputs[0].get()));
            if (tol_known && std::isnan(tol) && !d.values.empty()) fuzz::fault("tol NaN dropped entries");
            if (tol_known && kind >= 0 && !std::isnan(tol))
                check_bound(d, a.nrows, a.ncols, tol, kind,
                            "A " + fuzz::describe(a) + "; ratio in " + fuzz::hex(ratio));
        }
    }
    fuzz::check_nothing_alive();
    return 0;
}
