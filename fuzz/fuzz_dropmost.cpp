// Fuzzes [B, threshold, dropped] = dropmost(A, tol, kind) through the stand-in host: any number of
// inputs and outputs, arguments of every class and shape, valid sparse matrices holding awkward
// values, tol across the whole range of doubles and now and then exactly at the dropped norm of
// one of A's magnitudes, and now and then a host allocation that fails. Every call must end in
// one of the fixed messages, or return B without exactly the entries at or below the threshold,
// the dropped part within tol as spgauge measures it, and no larger threshold possible: the part
// at or below the next larger magnitude of A exceeds tol.
#include "dropped_checks.h"
#include "fuzz_support.h"

namespace {

using fuzz::fault;

// Every error the call may raise, "identifier|message".
const std::vector<std::string> MESSAGES = {
    "dropmost:nargin|Three inputs required.",
    "dropmost:nargout|Too many output arguments",
    "dropmost:notSparse|Input must be a sparse matrix.",
    "dropmost:notRealDouble|Input must be noncomplex double.",
    "dropmost:notTwoDimensional|Input argument must be two dimensional \n",
    "dropmost:kind|Only for 1-norm, inf-norm and fro-norm.",
    "dropmost:tolerance|Tolerance must be a nonnegative number.",
};

// The part of A at or below t, as a dropped set.
fuzz::Dropped part_at_or_below(const standin::SparseContents& a, double t)
{
    fuzz::Dropped d;
    for (uint64_t j = 0; j < a.ncols; ++j) {
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k) {
            if (!(std::fabs(a.pr[k]) <= t)) continue;
            d.values.push_back(a.pr[k]);
            d.cols.push_back(j);
            d.rows.push_back(a.ir[k]);
        }
    }
    return d;
}

// tol: any double, or the dropped norm of one of A's magnitudes, or one double either side.
double any_tolerance(fuzz::ByteReader& in, const fuzz::Csc& a, int kind)
{
    if (a.pr.empty() || kind < 0 || in.chance(40)) return fuzz::any_double(in);
    standin::Array m = fuzz::to_array(a);
    const standin::SparseContents c = standin::read_sparse(m.get());
    const double t = std::fabs(a.pr[in.below(a.pr.size())]);
    const double at = fuzz::dropped_norm(part_at_or_below(c, t), c.nrows, c.ncols, kind);
    const uint8_t side = in.byte() % 3;
    return side == 0 ? at : std::nextafter(at, side == 1 ? 0.0 : INFINITY);
}

// Whether tol is one a call must accept: one real number of a numeric class, 0 or more.
bool acceptable_tolerance(const mxArray* tol, double value)
{
    return mxIsNumeric(tol) && !mxIsComplex(tol) && mxGetNumberOfElements(tol) == 1 &&
           value >= 0.0;
}

void check_result(const standin::Outcome& out, const standin::SparseContents& a, double tol,
                  int kind, int nlhs)
{
    const std::string context = "A " + fuzz::describe(a) + "; tol " + fuzz::hex(tol);
    const standin::SparseContents b = standin::read_sparse(out.outputs[0].get());
    const fuzz::Dropped d = fuzz::check_subset(a, b);
    const double norm = fuzz::dropped_norm(d, a.nrows, a.ncols, kind);
    if (!(norm <= tol)) fault("dropped part's norm " + fuzz::hex(norm) + " exceeds tol; " + context);
    double threshold = 0.0;
    for (double x : d.values) threshold = std::max(threshold, std::fabs(x));
    // The next larger magnitude of A must not fit.
    double next = INFINITY;
    bool any_above = false;
    for (double x : a.pr)
        if (std::fabs(x) > threshold) next = std::min(next, std::fabs(x)), any_above = true;
    if (any_above) {
        const double above = fuzz::dropped_norm(part_at_or_below(a, next), a.nrows, a.ncols, kind);
        if (above <= tol) fault("a larger threshold fits: " + fuzz::hex(next) + "; " + context);
    }
    if (nlhs >= 2) {
        const double t = standin::first_value(out.outputs[1].get());
        if (!(t >= threshold && t <= threshold) && !(t == 0.0 && d.values.empty()))
            fault("threshold " + fuzz::hex(t) + " is not the largest dropped magnitude; " + context);
    }
    if (nlhs >= 3 && bits_of(standin::first_value(out.outputs[2].get())) != bits_of(norm))
        fault("dropped " + fuzz::hex(standin::first_value(out.outputs[2].get())) +
              " is not the dropped part's norm " + fuzz::hex(norm) + "; " + context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ByteReader in(data, size);
    standin::set_allocation_limit(fuzz::HOST_MEMORY);
    const int nlhs = in.byte() % 5;
    const int nrhs = in.chance(85) ? 3 : in.byte() % 6;
    const fuzz::ArgShape expected[] = {fuzz::SPARSE_DOUBLE, fuzz::NUMBER, fuzz::KIND};
    {
        fuzz::Arguments args;
        // The kind is drawn first so that tol can be placed on one of its dropped norms.
        const fuzz::ArgShape kind_shape = fuzz::pick_shape(in, fuzz::KIND);
        const int kind_planned = in.byte() % 3;
        int kind = -1;
        bool tol_known = false;
        double tol = 0.0;
        const mxArray* tol_arg = nullptr;
        for (int i = 0; i < nrhs; ++i) {
            const fuzz::ArgShape shape = i == 2 ? kind_shape : fuzz::pick_shape(in, i < 3 ? expected[i] : fuzz::NUMBER);
            args.intended_kind = -1;
            const double number = i == 1 ? any_tolerance(in, args.matrix, kind_planned) : fuzz::any_double(in);
            args.inputs.push_back(fuzz::any_argument(in, args, shape, number));
            if (i == 1 && shape == fuzz::NUMBER) tol_known = true, tol = args.number_read, tol_arg = args.inputs.back();
            if (i == 2) kind = args.intended_kind;
        }
        const standin::Outcome out = fuzz::checked_call(in, mexFunction, nlhs, args.inputs, MESSAGES);
        if (!out.failed) {
            if (out.outputs.size() != static_cast<size_t>(std::max(nlhs, 1)) || !out.outputs[0])
                fault("outputs missing");
            const std::string defect = standin::sparse_defect(out.outputs[0].get());
            if (!defect.empty()) fault("B is malformed: " + defect);
            for (size_t k = 1; k < static_cast<size_t>(nlhs); ++k)
                if (!(out.outputs[k] && standin::is_real_double_scalar(out.outputs[k].get())))
                    fault("threshold or dropped is not a 1-by-1 real double");
            if (tol_known && !acceptable_tolerance(tol_arg, tol)) fault("an unacceptable tol was read");
            if (tol_known && kind >= 0)
                check_result(out, standin::read_sparse(args.inputs[0]), tol, kind, nlhs);
        } else if (out.identifier == "dropmost:tolerance" && tol_known && kind >= 0 &&
                   acceptable_tolerance(tol_arg, tol) && nrhs == 3) {
            fault("an acceptable tol " + fuzz::hex(tol) + " was refused");
        }
    }
    fuzz::check_nothing_alive();
    return 0;
}
