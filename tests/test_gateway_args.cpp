#include "gateway_args.h"

#include "standin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {

using standin::Array;

// "identifier|message" of the error an operation ends the call with, or "" when it returns.
std::string error_of(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const standin::HostError& e) {
        return e.identifier + "|" + e.message;
    }
    return "";
}

const GatewayErrors ERRORS = {"t:nargin",  "Four inputs required.", "t:nargout", "t:notSparse",
                              "t:notReal", "t:not2d",               "t:kind"};
const std::string BAD_KIND = "t:kind|Only for 1-norm, inf-norm and fro-norm.";

Array small_sparse() { return standin::sparse(2, 2, {0, 1, 2}, {0, 1}, {1.0, 2.0}); }

}  // namespace

TEST(NormKindRules, TextMustMatchExactly)
{
    const std::pair<const char*, NormKind> cases[] = {
        {"fro", NORM_FRO}, {"inf", NORM_INF}, {"FRO", NORM_BAD}, {"Inf", NORM_BAD},
        {"fro ", NORM_BAD}, {"frobenius", NORM_BAD}, {"fr", NORM_BAD}, {"1", NORM_BAD},
        {"", NORM_BAD}, {"infinity", NORM_BAD}, {"in", NORM_BAD}, {"inf\n", NORM_BAD},
    };
    for (const auto& [text, kind] : cases) EXPECT_EQ(norm_kind_from_text(text), kind) << text;
}

TEST(NormKindRules, OnlyTheNumberOneSelectsTheOneNorm)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(norm_kind_from_number(1.0), NORM_ONE);
    for (double x : {0.0, 2.0, -1.0, inf, std::nan(""), std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0)})
        EXPECT_EQ(norm_kind_from_number(x), NORM_BAD) << x;
}

TEST(ParseNormKind, ReadsTextNumbersOfEveryClassAndRefusesTheRest)
{
    struct Case {
        const char* what;
        Array kind;
        NormKind expected;
    };
    Case cases[] = {
        {"'fro'", standin::text("fro"), NORM_FRO},
        {"'inf'", standin::text("inf"), NORM_INF},
        {"1", standin::scalar(1.0), NORM_ONE},
        {"[1 2]", standin::full(mxDOUBLE_CLASS, {1, 2}, {1, 2}), NORM_ONE},
        {"[2 1]", standin::full(mxDOUBLE_CLASS, {1, 2}, {2, 1}), NORM_BAD},
        {"int8(1)", standin::full(mxINT8_CLASS, {1, 1}, {1}), NORM_ONE},
        {"uint64(1)", standin::full(mxUINT64_CLASS, {1, 1}, {1}), NORM_ONE},
        {"single(1)", standin::full(mxSINGLE_CLASS, {1, 1}, {1}), NORM_ONE},
        {"int32(2)", standin::full(mxINT32_CLASS, {1, 1}, {2}), NORM_BAD},
        {"true", standin::full(mxLOGICAL_CLASS, {1, 1}, {1}), NORM_ONE},
        {"1+2i", standin::full(mxDOUBLE_CLASS, {1, 1}, {1}, true), NORM_ONE},
        {"sparse(1)", standin::sparse(1, 1, {0, 1}, {0}, {1.0}), NORM_ONE},
        {"sparse([0 1])", standin::sparse(1, 2, {0, 0, 1}, {0}, {1.0}), NORM_BAD},
        {"sparse(2,1) with (2,1)=1", standin::sparse(2, 1, {0, 1}, {1}, {1.0}), NORM_BAD},
        {"[]", standin::full(mxDOUBLE_CLASS, {0, 0}, {}), NORM_BAD},
        {"zeros(1,0,'int8')", standin::full(mxINT8_CLASS, {1, 0}, {}), NORM_BAD},
        {"''", standin::text(""), NORM_BAD},
        {"'1'", standin::text("1"), NORM_BAD},
        {"['fro';'inf']", standin::text_rows({"fro", "inf"}), NORM_BAD},
        {"'fr\xc3\xb6'", standin::text_utf16({'f', 'r', 0xF6}), NORM_BAD},
        {"cell", standin::opaque(mxCELL_CLASS), NORM_BAD},
        {"struct", standin::opaque(mxSTRUCT_CLASS), NORM_BAD},
        {"function handle", standin::opaque(mxFUNCTION_CLASS), NORM_BAD},
        // MATLAB's string objects, converted by the host's char.
        {"\"fro\"", standin::string_scalar("fro"), NORM_FRO},
        {"\"inf\"", standin::string_scalar("inf"), NORM_INF},
        {"\"Inf\"", standin::string_scalar("Inf"), NORM_BAD},
        {"\"\"", standin::string_scalar(""), NORM_BAD},
        {"\"1\"", standin::string_scalar("1"), NORM_BAD},
        {"[\"fro\" \"inf\"]", standin::string_object({"fro", "inf"}, {1, 2}), NORM_BAD},
        {"strings(0)", standin::string_object({}, {0, 0}), NORM_BAD},
    };
    for (Case& c : cases) {
        const size_t arrays_before = standin::live_arrays();
        NormKind got = NORM_BAD;
        const std::string error = error_of([&] { got = parse_norm_kind(c.kind.get(), ERRORS); });
        if (c.expected == NORM_BAD) {
            EXPECT_EQ(error, BAD_KIND) << c.what;
        } else {
            EXPECT_EQ(error, "") << c.what;
            EXPECT_EQ(got, c.expected) << c.what;
        }
        EXPECT_EQ(standin::live_scratch_blocks(), 0u) << c.what << ": text buffer not released";
        EXPECT_EQ(standin::live_arrays(), arrays_before) << c.what << ": converted text not released";
    }
}

TEST(CheckGatewayArgs, FirstFailingCheckDecidesTheMessage)
{
    Array good = small_sparse();
    Array full = standin::full(mxDOUBLE_CLASS, {2, 2}, {1, 2, 3, 4});
    Array logical = standin::sparse_of_class(mxLOGICAL_CLASS, false, 1, 1, {0, 1}, {0}, {1.0});
    Array complex = standin::sparse_of_class(mxDOUBLE_CLASS, true, 1, 1, {0, 1}, {0}, {1.0});
    Array kind = standin::text("fro");
    struct Case {
        int nlhs, nrhs;
        const mxArray* a;
        const char* expected;
    };
    const Case cases[] = {
        {2, 3, full.get(), "t:nargin|Four inputs required."},  // the input count comes first
        {3, 4, full.get(), "t:nargout|Too many output arguments"},
        {2, 4, full.get(), "t:notSparse|Input must be a sparse matrix."},
        {2, 4, logical.get(), "t:notReal|Input must be noncomplex double."},
        {0, 4, complex.get(), "t:notReal|Input must be noncomplex double."},
        {2, 4, good.get(), ""},
        {-1, 4, good.get(), ""},
    };
    for (const Case& c : cases) {
        const mxArray* prhs[] = {c.a, kind.get(), kind.get(), kind.get(), kind.get()};
        EXPECT_EQ(error_of([&] { check_gateway_args(c.nlhs, c.nrhs, prhs, 4, 2, ERRORS); }), c.expected);
    }
}
