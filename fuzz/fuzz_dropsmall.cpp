// Fuzzes [B, ratio] = dropsmall(A, tol, kind, ratio) through the stand-in host: any number of
// inputs and outputs, arguments of every class and shape, valid sparse matrices holding awkward
// values, tol and ratio across the whole range of doubles, claims of more stored entries than a
// call may take, and now and then a host allocation that fails. Every call must end in one of
// the fixed messages or return a valid sparse B of A's size holding A's largest entries and no
// more capacity than it needs, the dropped part within tol exactly as spgauge measures it, and
// the ratio as a 1-by-1 double.
#include "dropped_checks.h"
#include "fuzz_support.h"

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
        const standin::Outcome out = fuzz::checked_call(in, mexFunction, nlhs, args.inputs, MESSAGES);
        if (!out.failed) {
            if (overstated) fuzz::fault("a matrix claiming 2^31 stored entries was accepted");
            if (out.outputs.size() != static_cast<size_t>(std::max(nlhs, 1)) || !out.outputs[0])
                fuzz::fault("outputs missing");
            const std::string defect = standin::sparse_defect(out.outputs[0].get());
            if (!defect.empty()) fuzz::fault("B is malformed: " + defect);
            if (nlhs >= 2 && !(out.outputs[1] && standin::is_real_double_scalar(out.outputs[1].get())))
                fuzz::fault("ratio is not a 1-by-1 real double");
            const standin::SparseContents a = standin::read_sparse(args.inputs[0]);
            const fuzz::Dropped d = fuzz::check_subset(a, standin::read_sparse(out.outputs[0].get()));
            if (tol_known && std::isnan(tol) && !d.values.empty()) fuzz::fault("tol NaN dropped entries");
            if (tol_known && kind >= 0 && !std::isnan(tol))
                fuzz::check_bound(d, a.nrows, a.ncols, tol, kind,
                            "A " + fuzz::describe(a) + "; ratio in " + fuzz::hex(ratio));
        }
    }
    fuzz::check_nothing_alive();
    return 0;
}
