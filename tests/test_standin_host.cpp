// The stand-in host where MATLAB documents a behaviour that the extensions' tests rely on: each
// case is a tiny gateway doing what an extension might, called as a host calls it.
#include "standin.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using standin::Array;

// B = a 2-by-1 sparse matrix whose value block is replaced in one of three ways.
void replace_dropping_old(int, mxArray* plhs[], int, const mxArray*[])
{
    plhs[0] = mxCreateSparse(2, 1, 2, mxREAL);
    mxSetPr(plhs[0], static_cast<double*>(mxCalloc(2, sizeof(double))));
}

void replace_after_freeing_old(int, mxArray* plhs[], int, const mxArray*[])
{
    plhs[0] = mxCreateSparse(2, 1, 2, mxREAL);
    mxFree(mxGetPr(plhs[0]));
    mxSetPr(plhs[0], static_cast<double*>(mxCalloc(2, sizeof(double))));
}

void replace_by_realloc(int, mxArray* plhs[], int, const mxArray*[])
{
    plhs[0] = mxCreateSparse(2, 1, 2, mxREAL);
    mxSetNzmax(plhs[0], 1);
    mxSetPr(plhs[0], static_cast<double*>(mxRealloc(mxGetPr(plhs[0]), sizeof(double))));
    mxSetIr(plhs[0], static_cast<mwIndex*>(mxRealloc(mxGetIr(plhs[0]), sizeof(mwIndex))));
}

// mxGetString into a buffer of length 0, which must stay untouched; the result goes to plhs[0].
void string_into_empty_buffer(int, mxArray* plhs[], int, const mxArray* prhs[])
{
    char buffer[4] = {'x', 'x', 'x', 'x'};
    const int status = mxGetString(prhs[0], buffer, 0);
    plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
    *mxGetPr(plhs[0]) = (status == 0 && std::memcmp(buffer, "xxxx", 4) == 0) ? 1.0 : 0.0;
}

void formatted_error(int, mxArray*[], int, const mxArray*[])
{
    mexErrMsgIdAndTxt("pkg:sub:what", "%s has %d%%", "A", 5);
}

void malformed_identifier(int, mxArray*[], int, const mxArray*[])
{
    mexErrMsgIdAndTxt("no colon", "text");
}

}  // namespace

TEST(StandinHost, ReplacedBlockIsLeakedUnlessReleasedOrReallocated)
{
    const std::pair<standin::MexFunction, size_t> cases[] = {
        {replace_dropping_old, 1}, {replace_after_freeing_old, 0}, {replace_by_realloc, 0}};
    for (const auto& [fn, leaked] : cases) {
        const standin::Outcome out = standin::call(fn, 1, {});
        EXPECT_FALSE(out.failed) << out.message;
        EXPECT_EQ(out.blocks_leaked, leaked);
        EXPECT_EQ(out.scratch_left, 0u);
    }
    EXPECT_EQ(standin::live_blocks(), 0u);
}

TEST(StandinHost, GetStringWithBufferLengthZeroWritesNothingAndSucceeds)
{
    Array text = standin::text("fro");
    const standin::Outcome out = standin::call(string_into_empty_buffer, 1, {text.get()});
    ASSERT_FALSE(out.failed) << out.message;
    EXPECT_EQ(standin::first_value(out.outputs[0].get()), 1.0);
}

TEST(StandinHost, ErrorCallFormatsItsTextAndRefusesMalformedIdentifiers)
{
    const standin::Outcome formatted = standin::call(formatted_error, 0, {});
    EXPECT_EQ(formatted.identifier, "pkg:sub:what");
    EXPECT_EQ(formatted.message, "A has 5%");
    const standin::Outcome malformed = standin::call(malformed_identifier, 0, {});
    EXPECT_EQ(malformed.identifier, "standin:misuse");
}
