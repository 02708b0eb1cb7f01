// The stand-in host's array half (MATLAB's libmx): the mx calls over plain memory, with every
// block and array tracked so that tests can see leaks, misuse, writes past the output slots and
// the order of host calls. It also defines the state the MEX half (standin_libmex.cpp) and the
// test harness (standin_harness.cpp) share, declared in standin_internal.h.
#include "standin.h"
#include "standin_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace standin::internal;

namespace {

// How a host ends a call whose memory it cannot find (MATLAB's identifier).
[[noreturn]] void out_of_memory()
{
    standin::internal::raise("MATLAB:nomem", "Out of memory.");
}

// Every allocation the extension asks of the host passes here, so that a test can make any
// one of them fail the way a real host does: by ending the call, never by returning nothing.
void count_request()
{
    HostState& h = host();
    ++h.requested;
    if (h.fail_at > 0 && h.requested == h.fail_at) out_of_memory();
}

size_t checked_product(size_t a, size_t b)
{
    size_t r;
    if (__builtin_mul_overflow(a, b, &r)) {
        if (host().in_call) ++host().refused;
        out_of_memory();
    }
    return r;
}

// The element count a host reports for a query: the product of the dimensions in size_t,
// wrapping where a sparse array's rows times columns exceed it (as Octave's index arithmetic
// does; no array that large can hold data). A query never ends the call.
size_t reported_count(const std::vector<size_t>& dims)
{
    size_t n = 1;
    for (size_t d : dims) n *= d;
    return n;
}

const mxArray* checked(const mxArray* a, const char* operation)
{
    if (a == nullptr || host().arrays.count(const_cast<mxArray*>(a)) == 0)
        misuse(std::string(operation) + " on something that is not a live array");
    return a;
}

// UTF-8 bytes of one character of text.
std::string utf8_of(mxChar c)
{
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// The class name mxIsClass compares with: "double", "char", ..., "string" for a string object.
std::string class_name(const mxArray* a)
{
    if (a->string_object) return "string";
    switch (a->class_id) {
    case mxCELL_CLASS: return "cell";
    case mxSTRUCT_CLASS: return "struct";
    case mxLOGICAL_CLASS: return "logical";
    case mxCHAR_CLASS: return "char";
    case mxDOUBLE_CLASS: return "double";
    case mxSINGLE_CLASS: return "single";
    case mxINT8_CLASS: return "int8";
    case mxUINT8_CLASS: return "uint8";
    case mxINT16_CLASS: return "int16";
    case mxUINT16_CLASS: return "uint16";
    case mxINT32_CLASS: return "int32";
    case mxUINT32_CLASS: return "uint32";
    case mxINT64_CLASS: return "int64";
    case mxUINT64_CLASS: return "uint64";
    case mxFUNCTION_CLASS: return "function_handle";
    default: return "unknown";
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The state shared with the MEX half and the harness, as declared in standin_internal.h.

namespace standin::internal {

HostState& host()
{
    static HostState state;
    return state;
}

void log_call(const char* name)
{
    host().host_calls.emplace_back(name);
}

void raise(const std::string& identifier, const std::string& message)
{
    throw HostError{message, identifier};
}

void misuse(const std::string& what)
{
    throw HostError{"host misuse: " + what, "standin:misuse"};
}

void* allocate(size_t bytes, const mxArray* owner)
{
    HostState& h = host();
    if (h.in_call) h.call_requested_bytes += bytes;
    // A real host refuses a request larger than the memory it can find by ending the call.
    if (h.in_call && h.allocation_limit > 0 && bytes > h.allocation_limit) {
        ++h.refused;
        out_of_memory();
    }
    void* p = std::calloc(std::max<size_t>(bytes, 1), 1);
    if (p == nullptr) out_of_memory();
    const bool in_call =
        owner == nullptr || h.created_in_call.count(const_cast<mxArray*>(owner)) > 0;
    h.blocks[p] = Block{bytes, owner, in_call};
    if (owner == nullptr) {
        h.scratch_bytes += bytes;
        h.scratch_peak_bytes = std::max(h.scratch_peak_bytes, h.scratch_bytes);
    }
    if (in_call) {
        h.call_bytes += bytes;
        h.call_peak_bytes = std::max(h.call_peak_bytes, h.call_bytes);
    }
    return p;
}

void release(void* p)
{
    HostState& h = host();
    auto it = h.blocks.find(p);
    if (it == h.blocks.end()) misuse("release of a block the host does not know");
    if (it->second.owner == nullptr && !it->second.dropped) h.scratch_bytes -= it->second.bytes;
    if (it->second.in_call) h.call_bytes -= it->second.bytes;
    h.blocks.erase(it);
    std::free(p);
}

size_t element_size(mxClassID c)
{
    switch (c) {
    case mxLOGICAL_CLASS: return sizeof(mxLogical);
    case mxCHAR_CLASS: return sizeof(mxChar);
    case mxDOUBLE_CLASS: return 8;
    case mxSINGLE_CLASS: return 4;
    case mxINT8_CLASS: case mxUINT8_CLASS: return 1;
    case mxINT16_CLASS: case mxUINT16_CLASS: return 2;
    case mxINT32_CLASS: case mxUINT32_CLASS: return 4;
    case mxINT64_CLASS: case mxUINT64_CLASS: return 8;
    default: return sizeof(void*);
    }
}

size_t count_of(const std::vector<size_t>& dims)
{
    size_t n = 1;
    for (size_t d : dims) n = checked_product(n, d);
    return n;
}

mxArray* new_array(mxClassID c, bool sparse, bool complex, std::vector<size_t> dims)
{
    mxArray* a = new mxArray_tag;
    a->class_id = c;
    a->sparse = sparse;
    a->complex = complex;
    a->dims = std::move(dims);
    host().arrays.insert(a);
    return a;
}

void give_full_storage(mxArray* a)
{
    const size_t bytes = checked_product(count_of(a->dims), element_size(a->class_id));
    if (bytes == 0) return;  // an empty array has no data block
    a->pr = allocate(bytes, a);
    if (a->complex) a->pi = allocate(bytes, a);
}

void give_sparse_storage(mxArray* a, size_t nzmax)
{
    a->nzmax = std::max<size_t>(nzmax, 1);
    const size_t esize = element_size(a->class_id);
    a->pr = allocate(checked_product(a->nzmax, esize), a);
    if (a->complex) a->pi = allocate(checked_product(a->nzmax, esize), a);
    a->ir = static_cast<mwIndex*>(allocate(checked_product(a->nzmax, sizeof(mwIndex)), a));
    a->jc = static_cast<mwIndex*>(allocate(checked_product(a->dims[1] + 1, sizeof(mwIndex)), a));
}

mxArray* char_of(const mxArray* a)
{
    checked(a, "char");
    if (!a->string_object || a->texts.size() != 1)
        misuse("char of anything but a 1-by-1 string object is not provided");
    count_request();
    const std::string& text = a->texts[0];
    mxArray* c = new_array(mxCHAR_CLASS, false, false, {1, text.size()});
    host().created_in_call.insert(c);
    give_full_storage(c);
    for (size_t k = 0; k < text.size(); ++k)
        static_cast<mxChar*>(c->pr)[k] = static_cast<unsigned char>(text[k]);
    return c;
}

}  // namespace standin::internal

// ---------------------------------------------------------------------------------------------
// The host API, as declared in mex.h.

extern "C" {

bool mxIsSparse(const mxArray* a)
{
    log_call("mxIsSparse");
    return checked(a, "mxIsSparse")->sparse;
}

bool mxIsDouble(const mxArray* a)
{
    log_call("mxIsDouble");
    return checked(a, "mxIsDouble")->class_id == mxDOUBLE_CLASS;
}

bool mxIsComplex(const mxArray* a)
{
    log_call("mxIsComplex");
    return checked(a, "mxIsComplex")->complex;
}

bool mxIsChar(const mxArray* a)
{
    log_call("mxIsChar");
    return checked(a, "mxIsChar")->class_id == mxCHAR_CLASS;
}

bool mxIsNumeric(const mxArray* a)
{
    log_call("mxIsNumeric");
    const mxClassID c = checked(a, "mxIsNumeric")->class_id;
    return c >= mxDOUBLE_CLASS && c <= mxUINT64_CLASS;
}

bool mxIsLogical(const mxArray* a)
{
    log_call("mxIsLogical");
    return checked(a, "mxIsLogical")->class_id == mxLOGICAL_CLASS;
}

bool mxIsClass(const mxArray* a, const char* name)
{
    log_call("mxIsClass");
    return class_name(checked(a, "mxIsClass")) == name;
}

mxClassID mxGetClassID(const mxArray* a)
{
    log_call("mxGetClassID");
    return checked(a, "mxGetClassID")->class_id;
}

mwSize mxGetNumberOfDimensions_730(const mxArray* a)
{
    log_call("mxGetNumberOfDimensions_730");
    return checked(a, "mxGetNumberOfDimensions_730")->dims.size();
}

size_t mxGetNumberOfElements(const mxArray* a)
{
    log_call("mxGetNumberOfElements");
    return reported_count(checked(a, "mxGetNumberOfElements")->dims);
}

size_t mxGetM(const mxArray* a)
{
    log_call("mxGetM");
    return checked(a, "mxGetM")->dims[0];
}

size_t mxGetN(const mxArray* a)
{
    log_call("mxGetN");
    const mxArray* b = checked(a, "mxGetN");
    return reported_count(std::vector<size_t>(b->dims.begin() + 1, b->dims.end()));
}

double* mxGetPr(const mxArray* a)
{
    log_call("mxGetPr");
    if (checked(a, "mxGetPr")->class_id != mxDOUBLE_CLASS) misuse("mxGetPr on a non-double array");
    return static_cast<double*>(a->pr);
}

void* mxGetData(const mxArray* a)
{
    log_call("mxGetData");
    return checked(a, "mxGetData")->pr;
}

mwIndex* mxGetIr_730(const mxArray* a)
{
    log_call("mxGetIr_730");
    if (!checked(a, "mxGetIr_730")->sparse) misuse("mxGetIr_730 on a full array");
    return a->ir;
}

mwIndex* mxGetJc_730(const mxArray* a)
{
    log_call("mxGetJc_730");
    if (!checked(a, "mxGetJc_730")->sparse) misuse("mxGetJc_730 on a full array");
    return a->jc;
}

// Copies the characters column by column as UTF-8, as many whole characters as fit before the
// NUL; returns 1 when the text did not fit (or is not text), 0 otherwise. A buffer length of 0
// writes nothing and returns 0.
int mxGetString_730(const mxArray* a, char* buffer, mwSize buffer_length)
{
    log_call("mxGetString_730");
    checked(a, "mxGetString_730");
    if (buffer_length == 0) return 0;
    if (a->class_id != mxCHAR_CLASS) {
        buffer[0] = '\0';
        return 1;
    }
    const size_t n = count_of(a->dims);
    const mxChar* chars = static_cast<const mxChar*>(a->pr);
    size_t w = 0;
    for (size_t k = 0; k < n; ++k) {
        const std::string bytes = utf8_of(chars[k]);
        if (w + bytes.size() > buffer_length - 1) {
            buffer[w] = '\0';
            return 1;
        }
        std::memcpy(buffer + w, bytes.data(), bytes.size());
        w += bytes.size();
    }
    buffer[w] = '\0';
    return 0;
}

// GNU Octave's mxCalloc multiplies count by size without a check and hands back the small block
// the wrapped product asks for; a request like that is a fault of the caller, never a refusal.
[[noreturn]] static void wrapped_request(size_t count, size_t element_size)
{
    std::fprintf(stderr, "stand-in host: mxCalloc(%zu, %zu) overflows size_t: a host that wraps "
                 "the product would hand back a block too small\n", count, element_size);
    std::abort();
}

void* mxCalloc(size_t count, size_t element_size)
{
    log_call("mxCalloc");
    count_request();
    size_t bytes;
    if (__builtin_mul_overflow(count, element_size, &bytes)) wrapped_request(count, element_size);
    return allocate(bytes, nullptr);
}

void* mxRealloc(void* block, size_t bytes)
{
    log_call("mxRealloc");
    count_request();
    if (block == nullptr) return allocate(bytes, nullptr);
    auto it = host().blocks.find(block);
    if (it == host().blocks.end()) misuse("mxRealloc of a block the host does not know");
    const Block old = it->second;
    void* fresh = allocate(bytes, old.owner);
    std::memcpy(fresh, block, std::min(bytes, old.bytes));
    release(block);
    return fresh;
}

void mxFree(void* block)
{
    log_call("mxFree");
    if (block == nullptr) return;
    auto it = host().blocks.find(block);
    if (it == host().blocks.end()) misuse("mxFree of a block the host does not know");
    // The way to release an array's block before replacing it with mxSetPr / mxSetIr.
    release(block);
}

mxArray* mxCreateDoubleMatrix_730(size_t m, size_t n, mxComplexity complexity)
{
    log_call("mxCreateDoubleMatrix_730");
    count_request();
    mxArray* a = new_array(mxDOUBLE_CLASS, false, complexity == mxCOMPLEX, {m, n});
    // Registered before its storage, so that an array whose storage is refused ends with the call.
    host().created_in_call.insert(a);
    give_full_storage(a);
    return a;
}

mxArray* mxCreateSparse_730(mwSize m, mwSize n, mwSize nzmax, mxComplexity complexity)
{
    log_call("mxCreateSparse_730");
    count_request();
    mxArray* a = new_array(mxDOUBLE_CLASS, true, complexity == mxCOMPLEX, {m, n});
    host().created_in_call.insert(a);
    give_sparse_storage(a, nzmax);
    return a;
}

void mxSetNzmax_730(mxArray* a, mwSize nzmax)
{
    log_call("mxSetNzmax_730");
    if (!checked(a, "mxSetNzmax_730")->sparse) misuse("mxSetNzmax_730 on a full array");
    a->nzmax = std::max<size_t>(nzmax, 1);
}

// Installing a block makes it the array's. The block it replaces is not released: unless the
// caller releases it with mxFree, it is dropped, and the call reports it as leaked.
static void install(mxArray* a, void** field, void* block, const char* operation)
{
    checked(a, operation);
    HostState& h = host();
    auto it = h.blocks.find(block);
    if (it == h.blocks.end()) misuse(std::string(operation) + " of a block not from the host");
    if (it->second.owner == nullptr && !it->second.dropped) h.scratch_bytes -= it->second.bytes;
    it->second.owner = a;
    it->second.dropped = false;
    // Scratch that becomes part of an array made in this call still counts for the call.
    if (it->second.in_call && h.created_in_call.count(a) == 0) {
        h.call_bytes -= it->second.bytes;
        it->second.in_call = false;
    }
    void* old = *field;
    *field = block;
    auto o = h.blocks.find(old);
    if (old != block && o != h.blocks.end() && o->second.owner == a) {
        o->second.owner = nullptr;
        o->second.dropped = true;
    }
}

void mxSetPr(mxArray* a, double* pr)
{
    log_call("mxSetPr");
    install(a, &a->pr, pr, "mxSetPr");
}

void mxSetIr_730(mxArray* a, mwIndex* ir)
{
    log_call("mxSetIr_730");
    void* field = a->ir;
    install(a, &field, ir, "mxSetIr_730");
    a->ir = static_cast<mwIndex*>(field);
}

void mxDestroyArray(mxArray* a)
{
    HostState& h = host();
    if (h.in_call) log_call("mxDestroyArray");
    if (a == nullptr) return;
    if (h.arrays.erase(a) == 0) misuse("mxDestroyArray of something that is not a live array");
    h.created_in_call.erase(a);
    std::vector<void*> owned;
    for (const auto& [p, b] : h.blocks)
        if (b.owner == a) owned.push_back(p);
    for (void* p : owned) release(p);
    delete a;
}

}  // extern "C"
