// Fuzzes spgauge(A, kind) through the stand-in host: any number of inputs and outputs, arguments
// of every class and shape, valid sparse matrices holding awkward values, and now and then a host
// allocation that fails. Every call must end in one of the fixed messages or return the norm as
// a 1-by-1 real double equal to the norm summed in storage order.
#include "fuzz_support.h"
#include "reference_norms.h"
#include "wide_norms.h"

namespace {

// Every error the call may raise, "identifier|message".
const std::vector<std::string> MESSAGES = {
    "spgauge:nargin|Two inputs required.",
    "spgauge:nargout|Too many output arguments",
    "spgauge:notSparse|Input must be a sparse matrix.",
    "spgauge:notRealDouble|Input must be noncomplex double.",
    "spgauge:notTwoDimensional|Input argument must be two dimensional \n",
    "spgauge:kind|Only for 1-norm, inf-norm and fro-norm.",
};

constexpr double SMALLEST_TRUSTED_TOTAL = 0x1p-969;

bool same_bits(double x, double y) { return bits_of(x) == bits_of(y); }

// The Frobenius norm must be the square root of the plain running sum of squares wherever that
// sum is trustworthy (or NaN, or infinite through a stored infinity), and otherwise the
// representable norm, to within a few roundings.
bool fro_norm_matches(double result, const std::vector<double>& pr)
{
    const double total = fuzz::ordered_sum_of_squares(pr);
    bool finite = true;
    for (double x : pr) finite = finite && std::isfinite(x);
    const bool plain = std::isnan(total) || (total == INFINITY && !finite) ||
                       (std::isfinite(total) && total >= SMALLEST_TRUSTED_TOTAL);
    if (std::isnan(total)) return std::isnan(result);  // which NaN is not promised
    if (plain) return same_bits(result, std::sqrt(total));
    const long double wide = wide_fro_norm(pr);
    // A running sum of n squares is good to about n roundings; a subnormal result cannot be
    // closer than half its spacing, the smallest subnormal.
    const long double n = static_cast<long double>(pr.size());
    const long double slack = (n + 2) * 0x1p-52L * wide + std::numeric_limits<double>::denorm_min();
    // Infinity only for a norm that rounds beyond the largest double, within those roundings;
    // just below that, the largest double is as good an answer.
    if (result == INFINITY) return std::isinf(static_cast<double>(wide + slack));
    return std::fabs(static_cast<long double>(result) - wide) <= slack;
}

void check_norm(double result, const standin::SparseContents& a, int kind)
{
    const bool one = same_bits(result, fuzz::ordered_one_norm(a));
    const bool inf = same_bits(result, fuzz::ordered_inf_norm(a));
    const bool fro = fro_norm_matches(result, a.pr);
    const bool right = kind == 0 ? fro : kind == 1 ? one : kind == 2 ? inf : (one || inf || fro);
    if (!right && kind == 0)
        std::fprintf(stderr, "sum of squares %a, wide norm %La\n", fuzz::ordered_sum_of_squares(a.pr),
                     wide_fro_norm(a.pr));
    if (!right)
        fuzz::fault("wrong norm " + fuzz::hex(result) + " for kind " + std::to_string(kind) +
                    " of " + fuzz::describe(a));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ByteReader in(data, size);
    standin::set_allocation_limit(fuzz::HOST_MEMORY);
    const int nlhs = in.byte() % 4;
    const int nrhs = in.chance(85) ? 2 : in.byte() % 5;
    {
        fuzz::Arguments args;
        int kind = -1;
        for (int i = 0; i < nrhs; ++i) {
            const fuzz::ArgShape expected = i == 0 ? fuzz::SPARSE_DOUBLE : i == 1 ? fuzz::KIND : fuzz::NUMBER;
            args.intended_kind = -1;
            args.inputs.push_back(fuzz::any_argument(in, args, fuzz::pick_shape(in, expected), fuzz::any_double(in)));
            if (i == 1) kind = args.intended_kind;
        }
        const standin::Outcome out = fuzz::checked_call(in, mexFunction, nlhs, args.inputs, MESSAGES);
        if (!out.failed) {
            if (out.outputs.size() != 1 || !out.outputs[0]) fuzz::fault("no result in the first slot");
            if (!standin::is_real_double_scalar(out.outputs[0].get())) fuzz::fault("result is not a 1-by-1 real double");
            // Only a valid two-dimensional sparse double can have got this far.
            check_norm(standin::first_value(out.outputs[0].get()), standin::read_sparse(args.inputs[0]), kind);
        }
    }
    fuzz::check_nothing_alive();
    return 0;
}
