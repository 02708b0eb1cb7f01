#include "gateway_args.h"

#include <cstring>

const char* const MSG_TOO_MANY_OUTPUTS = "Too many output arguments";
const char* const MSG_NOT_SPARSE = "Input must be a sparse matrix.";
const char* const MSG_NOT_REAL_DOUBLE = "Input must be noncomplex double.";
const char* const MSG_NOT_2D = "Input argument must be two dimensional \n";
const char* const MSG_BAD_KIND = "Only for 1-norm, inf-norm and fro-norm.";

void raise_error(const char* id, const char* message)
{
    mexErrMsgIdAndTxt(id, "%s", message);
}

void check_gateway_args(int nlhs, int nrhs, const mxArray* prhs[], int nrhs_required,
                        int max_outputs, const GatewayErrors& errors)
{
    if (nrhs != nrhs_required) raise_error(errors.nargin_id, errors.count_message);
    if (nlhs > max_outputs) raise_error(errors.nargout_id, MSG_TOO_MANY_OUTPUTS);
    const mxArray* a = prhs[0];
    if (!mxIsSparse(a)) raise_error(errors.not_sparse_id, MSG_NOT_SPARSE);
    // mxIsComplex is asked only of a double array.
    if (!mxIsDouble(a) || mxIsComplex(a))
        raise_error(errors.not_real_double_id, MSG_NOT_REAL_DOUBLE);
    if (mxGetNumberOfDimensions(a) != 2) raise_error(errors.not_2d_id, MSG_NOT_2D);
}

NormKind norm_kind_from_text(const char* text)
{
    if (std::strcmp(text, "fro") == 0) return NORM_FRO;
    if (std::strcmp(text, "inf") == 0) return NORM_INF;
    return NORM_BAD;
}

NormKind norm_kind_from_number(double x)
{
    return x == 1.0 ? NORM_ONE : NORM_BAD;
}

// The text is read into a buffer of the array's column count plus the NUL; text that does not
// fit (several rows, multi-byte characters) is judged on whatever the host left in the buffer.
static NormKind norm_kind_of_text_array(const mxArray* kind)
{
    const size_t length = mxGetN(kind) + 1;
    char* buffer = static_cast<char*>(mxCalloc(length, 1));
    mxGetString(kind, buffer, static_cast<mwSize>(length));
    const NormKind result = norm_kind_from_text(buffer);
    mxFree(buffer);
    return result;
}

// MATLAB's string object ("fro" in double quotes) is not a character array. A 1-by-1 one is
// turned into one by the host's own char, read like any text, and the converted array released.
// Octave has no string class: there mxIsClass says false and nothing changes.
static bool is_string_object(const mxArray* kind)
{
    if (!mxIsClass(kind, "string")) return false;
    return mxGetNumberOfElements(kind) == 1;
}

static NormKind norm_kind_of_string_object(const mxArray* kind)
{
    mxArray* converted = nullptr;
    mxArray* input = const_cast<mxArray*>(kind);  // char reads its input, never changes it
    mexCallMATLAB(1, &converted, 1, &input, "char");
    NormKind result = NORM_BAD;
    if (mxIsChar(converted)) result = norm_kind_of_text_array(converted);
    mxDestroyArray(converted);
    return result;
}

NormKind parse_norm_kind(const mxArray* kind, const GatewayErrors& errors)
{
    NormKind result = NORM_BAD;
    double first = 0.0;
    if (mxIsChar(kind)) {
        result = norm_kind_of_text_array(kind);
    } else if (read_first_element(kind, &first)) {
        result = norm_kind_from_number(first);
    } else if (is_string_object(kind)) {
        result = norm_kind_of_string_object(kind);
    }
    if (result == NORM_BAD) raise_error(errors.kind_id, MSG_BAD_KIND);
    return result;
}

template <typename T>
static double element_as_double(const void* data, size_t k)
{
    return static_cast<double>(static_cast<const T*>(data)[k]);
}

static double element_of_class(mxClassID class_id, const void* data, size_t k)
{
    switch (class_id) {
    case mxDOUBLE_CLASS: return element_as_double<double>(data, k);
    case mxSINGLE_CLASS: return element_as_double<float>(data, k);
    case mxINT8_CLASS: return element_as_double<int8_t>(data, k);
    case mxUINT8_CLASS: return element_as_double<uint8_t>(data, k);
    case mxINT16_CLASS: return element_as_double<int16_t>(data, k);
    case mxUINT16_CLASS: return element_as_double<uint16_t>(data, k);
    case mxINT32_CLASS: return element_as_double<int32_t>(data, k);
    case mxUINT32_CLASS: return element_as_double<uint32_t>(data, k);
    case mxINT64_CLASS: return element_as_double<int64_t>(data, k);
    case mxUINT64_CLASS: return element_as_double<uint64_t>(data, k);
    case mxLOGICAL_CLASS: return static_cast<const mxLogical*>(data)[k] ? 1.0 : 0.0;
    default: return 0.0;
    }
}

// Element (0, 0) of a sparse array is its first stored value only when that value sits in
// column 0 at row 0; otherwise it is an unstored zero.
static double first_element_of_sparse(const mxArray* arg, mxClassID class_id)
{
    const uint64_t* jc = host_jc(arg);
    const uint64_t* ir = host_ir(arg);
    if (jc[1] == 0 || ir[0] != 0) return 0.0;
    return element_of_class(class_id, mxGetData(arg), 0);
}

bool read_first_element(const mxArray* arg, double* value)
{
    if (!mxIsNumeric(arg) && !mxIsLogical(arg)) return false;
    if (mxGetNumberOfElements(arg) == 0) return false;
    const mxClassID class_id = mxGetClassID(arg);
    if (mxIsSparse(arg)) {
        *value = first_element_of_sparse(arg, class_id);
    } else {
        *value = element_of_class(class_id, mxGetData(arg), 0);
    }
    return true;
}

mxArray* create_scalar(double x)
{
    mxArray* out = mxCreateDoubleMatrix(1, 1, mxREAL);
    *mxGetPr(out) = x;
    return out;
}
