#include "gateway_args.h"

#include <cstring>

const char* const MSG_TOO_MANY_OUTPUTS = "Too many output arguments";
const char* const MSG_NOT_SPARSE = "Input must be a sparse matrix.";
const char* const MSG_NOT_REAL_DOUBLE = "Input must be noncomplex double.";
const char* const MSG_NOT_2D = "Input argument must be two dimensional \n";
const char* const MSG_BAD_KIND = "Only for 1-norm, inf-norm and fro-norm.";

void check_gateway_args(int nlhs, int nrhs, const mxArray* prhs[], int nrhs_required,
                        const char* count_message, int max_outputs)
{
    if (nrhs != nrhs_required) mexErrMsgTxt(count_message);
    if (nlhs > max_outputs) mexErrMsgTxt(MSG_TOO_MANY_OUTPUTS);
    const mxArray* a = prhs[0];
    if (!mxIsSparse(a)) mexErrMsgTxt(MSG_NOT_SPARSE);
    // mxIsComplex is asked only of a double array.
    if (!mxIsDouble(a) || mxIsComplex(a)) mexErrMsgTxt(MSG_NOT_REAL_DOUBLE);
    if (mxGetNumberOfDimensions(a) != 2) mexErrMsgTxt(MSG_NOT_2D);
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

NormKind parse_norm_kind(const mxArray* kind)
{
    NormKind result = NORM_BAD;
    double first = 0.0;
    if (mxIsChar(kind)) {
        result = norm_kind_of_text_array(kind);
    } else if (read_first_element(kind, &first)) {
        result = norm_kind_from_number(first);
    }
    if (result == NORM_BAD) mexErrMsgTxt(MSG_BAD_KIND);
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
