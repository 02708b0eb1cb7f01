// The stand-in host's array half (MATLAB's libmx): the mx calls over plain memory, with every
// block and array tracked so that tests can see leaks, misuse, writes past the output slots and
// the order of host calls; and the test-side interface. The MEX half is standin_mex.cpp.
#include "standin.h"
#include "standin_internal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

struct mxArray_tag {
    mxClassID class_id = mxDOUBLE_CLASS;  // mxUNKNOWN_CLASS for a string object
    bool string_object = false;           // MATLAB's string class: one text per element
    std::vector<std::string> texts;
    bool sparse = false;
    bool complex = false;
    std::vector<size_t> dims;
    void* pr = nullptr;
    void* pi = nullptr;
    mwIndex* ir = nullptr;
    mwIndex* jc = nullptr;
    size_t nzmax = 0;
};

namespace {

struct Block {
    size_t bytes;
    const mxArray* owner;  // nullptr: scratch of the current call, or dropped
    bool in_call = false;  // scratch of the current call or storage of an array it created
    bool dropped = false;  // replaced in its array by mxSetPr / mxSetIr and not released since
};

struct HostState {
    std::unordered_map<void*, Block> blocks;
    std::unordered_set<mxArray*> arrays;
    std::unordered_set<mxArray*> created_in_call;
    std::vector<std::string> host_calls;
    size_t scratch_bytes = 0;
    size_t scratch_peak_bytes = 0;
    size_t call_bytes = 0;  // scratch plus the storage of arrays created in the current call
    size_t call_peak_bytes = 0;
    size_t call_requested_bytes = 0;  // every block asked for in the current call, summed
    long fail_at = 0;
    long requested = 0;
    bool in_call = false;
    size_t allocation_limit = 0;  // 0: none
    long refused = 0;
};

HostState& host()
{
    static HostState state;
    return state;
}

[[noreturn]] void misuse(const std::string& what)
{
    standin::internal::misuse(what);
}

void log_call(const char* name)
{
    standin::internal::log_call(name);
}

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

size_t checked_product(size_t a, size_t b)
{
    size_t r;
    if (__builtin_mul_overflow(a, b, &r)) {
        if (host().in_call) ++host().refused;
        out_of_memory();
    }
    return r;
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

// The element count a host reports for a query: the product of the dimensions in size_t,
// wrapping where a sparse array's rows times columns exceed it (as Octave's index arithmetic
// does; no array that large can hold data). A query never ends the call.
size_t reported_count(const std::vector<size_t>& dims)
{
    size_t n = 1;
    for (size_t d : dims) n *= d;
    return n;
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

const mxArray* checked(const mxArray* a, const char* operation)
{
    if (a == nullptr || host().arrays.count(const_cast<mxArray*>(a)) == 0)
        misuse(std::string(operation) + " on something that is not a live array");
    return a;
}

void store_value(mxClassID c, void* data, size_t k, double x)
{
    switch (c) {
    case mxDOUBLE_CLASS: static_cast<double*>(data)[k] = x; break;
    case mxSINGLE_CLASS: static_cast<float*>(data)[k] = static_cast<float>(x); break;
    case mxINT8_CLASS: static_cast<int8_t*>(data)[k] = static_cast<int8_t>(x); break;
    case mxUINT8_CLASS: static_cast<uint8_t*>(data)[k] = static_cast<uint8_t>(x); break;
    case mxINT16_CLASS: static_cast<int16_t*>(data)[k] = static_cast<int16_t>(x); break;
    case mxUINT16_CLASS: static_cast<uint16_t*>(data)[k] = static_cast<uint16_t>(x); break;
    case mxINT32_CLASS: static_cast<int32_t*>(data)[k] = static_cast<int32_t>(x); break;
    case mxUINT32_CLASS: static_cast<uint32_t*>(data)[k] = static_cast<uint32_t>(x); break;
    case mxINT64_CLASS: static_cast<int64_t*>(data)[k] = static_cast<int64_t>(x); break;
    case mxUINT64_CLASS: static_cast<uint64_t*>(data)[k] = static_cast<uint64_t>(x); break;
    case mxLOGICAL_CLASS: static_cast<mxLogical*>(data)[k] = x != 0.0; break;
    case mxCHAR_CLASS: static_cast<mxChar*>(data)[k] = static_cast<mxChar>(x); break;
    default: break;
    }
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

}  // namespace

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
    return standin::internal::class_name(checked(a, "mxIsClass")) == name;
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

// ---------------------------------------------------------------------------------------------
// The test-side interface.

namespace standin {

Array sparse_of_class(mxClassID class_id, bool complex, uint64_t nrows, uint64_t ncols,
                      const std::vector<uint64_t>& jc, const std::vector<uint64_t>& ir,
                      const std::vector<double>& pr)
{
    if (jc.size() != ncols + 1 || ir.size() != pr.size() || jc.back() > pr.size())
        throw std::invalid_argument("sparse: inconsistent arrays");
    Array a(new_array(class_id, true, complex, {nrows, ncols}));
    give_sparse_storage(a.get(), pr.size());
    for (size_t k = 0; k < pr.size(); ++k) {
        store_value(class_id, a->pr, k, pr[k]);
        a->ir[k] = ir[k];
    }
    std::copy(jc.begin(), jc.end(), a->jc);
    return a;
}

Array sparse(uint64_t nrows, uint64_t ncols, const std::vector<uint64_t>& jc,
             const std::vector<uint64_t>& ir, const std::vector<double>& pr)
{
    return sparse_of_class(mxDOUBLE_CLASS, false, nrows, ncols, jc, ir, pr);
}

Array full(mxClassID class_id, const std::vector<size_t>& dims, const std::vector<double>& values,
           bool complex)
{
    Array a(new_array(class_id, false, complex, dims));
    give_full_storage(a.get());
    const size_t n = std::min(values.size(), count_of(dims));
    for (size_t k = 0; k < n; ++k) store_value(class_id, a->pr, k, values[k]);
    return a;
}

Array scalar(double x)
{
    return full(mxDOUBLE_CLASS, {1, 1}, {x});
}

Array text_rows(const std::vector<std::string>& rows)
{
    const size_t m = rows.size();
    const size_t n = m == 0 ? 0 : rows[0].size();
    Array a(new_array(mxCHAR_CLASS, false, false, {m, n}));
    give_full_storage(a.get());
    for (size_t i = 0; i < m; ++i)
        for (size_t j = 0; j < n; ++j)
            static_cast<mxChar*>(a->pr)[i + j * m] = static_cast<unsigned char>(rows[i].at(j));
    return a;
}

Array text(const std::string& s)
{
    if (s.empty()) return text_rows({});
    return text_rows({s});
}

Array text_utf16(const std::vector<mxChar>& chars)
{
    Array a(new_array(mxCHAR_CLASS, false, false, {1, chars.size()}));
    give_full_storage(a.get());
    std::copy(chars.begin(), chars.end(), static_cast<mxChar*>(a->pr));
    return a;
}

Array opaque(mxClassID class_id)
{
    Array a(new_array(class_id, false, false, {1, 1}));
    give_full_storage(a.get());
    return a;
}

Array string_object(const std::vector<std::string>& texts, const std::vector<size_t>& dims)
{
    if (count_of(dims) != texts.size())
        throw std::invalid_argument("string_object: one text per element");
    Array a(new_array(mxUNKNOWN_CLASS, false, false, dims));
    a->string_object = true;
    a->texts = texts;
    return a;
}

Array string_scalar(const std::string& text)
{
    return string_object({text}, {1, 1});
}

void set_dims(mxArray* a, const std::vector<size_t>& dims)
{
    if (dims.size() < 2 || (a->sparse && dims[1] != a->dims[1]))
        throw std::invalid_argument("set_dims: a sparse array keeps its column count");
    a->dims = dims;
}

void overstate_stored_entries(mxArray* a, uint64_t nnz)
{
    a->jc[a->dims[1]] = nnz;
}

SparseContents read_sparse(const mxArray* a)
{
    SparseContents s{};
    s.nrows = a->dims[0];
    s.ncols = a->dims[1];
    s.nzmax = a->nzmax;
    s.jc.assign(a->jc, a->jc + s.ncols + 1);
    const uint64_t nnz = s.jc.back();
    s.ir.assign(a->ir, a->ir + nnz);
    s.pr.assign(static_cast<const double*>(a->pr), static_cast<const double*>(a->pr) + nnz);
    return s;
}

static size_t block_bytes(const void* p)
{
    auto it = host().blocks.find(const_cast<void*>(p));
    return it == host().blocks.end() ? 0 : it->second.bytes;
}

std::string sparse_defect(const mxArray* a)
{
    if (host().arrays.count(const_cast<mxArray*>(a)) == 0) return "not a live array";
    if (!a->sparse || a->class_id != mxDOUBLE_CLASS || a->complex || a->dims.size() != 2)
        return "not a real double sparse matrix";
    const size_t m = a->dims[0], n = a->dims[1];
    if (a->nzmax < 1) return "capacity below 1";
    if (block_bytes(a->pr) < a->nzmax * 8) return "value array smaller than the capacity";
    if (block_bytes(a->ir) < a->nzmax * 8) return "row-index array smaller than the capacity";
    if (block_bytes(a->jc) < (n + 1) * 8) return "column-pointer array too small";
    if (a->jc[0] != 0) return "first column pointer is not 0";
    for (size_t j = 0; j < n; ++j) {
        if (a->jc[j + 1] < a->jc[j]) return "column pointers decrease";
        if (a->jc[j + 1] > a->nzmax) return "column pointer beyond the capacity";
        for (size_t k = a->jc[j]; k < a->jc[j + 1]; ++k) {
            if (a->ir[k] >= m) return "row index out of range";
            if (k > a->jc[j] && a->ir[k] <= a->ir[k - 1]) return "row indices not increasing";
        }
    }
    return "";
}

bool is_real_double_scalar(const mxArray* a)
{
    return a->class_id == mxDOUBLE_CLASS && !a->sparse && !a->complex && a->dims.size() == 2 &&
           a->dims[0] == 1 && a->dims[1] == 1;
}

double first_value(const mxArray* a)
{
    return static_cast<const double*>(a->pr)[0];
}

// Everything a call must leave as it was: class, shape and the stored data.
static std::string fingerprint(const mxArray* a)
{
    std::string s;
    auto add = [&s](const void* p, size_t bytes) {
        if (p != nullptr) s.append(static_cast<const char*>(p), bytes);
    };
    add(&a->class_id, sizeof a->class_id);
    for (const std::string& text : a->texts) s += text + '\0';
    add(a->dims.data(), a->dims.size() * sizeof(size_t));
    s += a->sparse ? 'S' : 'F';
    s += a->complex ? 'C' : 'R';
    const size_t esize = element_size(a->class_id);
    if (a->sparse) {
        const size_t n = a->dims[1];
        add(a->jc, (n + 1) * sizeof(mwIndex));
        const size_t nnz = std::min<size_t>(a->jc[n], a->nzmax);
        add(a->ir, nnz * sizeof(mwIndex));
        add(a->pr, nnz * esize);
        add(a->pi, nnz * esize);
    } else {
        add(a->pr, count_of(a->dims) * esize);
        add(a->pi, count_of(a->dims) * esize);
    }
    return s;
}

static void* const GUARD = reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A5A5A5A50});
constexpr size_t GUARD_SLOTS = 8;

// After a call: releases the scratch it left (or, with dropped set, the blocks it replaced in an
// array and did not release) and counts them.
static size_t release_unowned(bool dropped)
{
    std::vector<void*> left;
    for (const auto& [p, b] : host().blocks)
        if (b.owner == nullptr && b.dropped == dropped) left.push_back(p);
    for (void* p : left) release(p);
    return left.size();
}

static void reset_call_state()
{
    HostState& h = host();
    h.host_calls.clear();
    h.created_in_call.clear();
    h.scratch_bytes = 0;
    h.scratch_peak_bytes = 0;
    for (auto& entry : h.blocks) entry.second.in_call = false;
    h.call_bytes = 0;
    h.call_peak_bytes = 0;
    h.call_requested_bytes = 0;
}

// Bytes of the blocks that belong to array a.
static size_t storage_bytes(const mxArray* a)
{
    size_t n = 0;
    for (const auto& entry : host().blocks)
        if (entry.second.owner == a) n += entry.second.bytes;
    return n;
}

Outcome call(MexFunction fn, int nlhs, const std::vector<const mxArray*>& inputs)
{
    release_unowned(false);
    release_unowned(true);
    reset_call_state();
    std::vector<std::string> before;
    for (const mxArray* a : inputs) before.push_back(fingerprint(a));
    const size_t nslots = static_cast<size_t>(std::max(nlhs, 1));
    std::vector<mxArray*> slots(nslots + GUARD_SLOTS, static_cast<mxArray*>(GUARD));
    std::fill(slots.begin(), slots.begin() + static_cast<long>(nslots), nullptr);
    std::vector<const mxArray*> args(inputs);

    Outcome out;
    HostState& h = host();
    h.in_call = true;
    try {
        fn(nlhs, slots.data(), static_cast<int>(args.size()), args.data());
    } catch (const HostError& e) {
        out.failed = true;
        out.identifier = e.identifier;
        out.message = e.message;
    }
    h.in_call = false;
    for (size_t s = nslots; s < slots.size(); ++s)
        if (slots[s] != GUARD) out.wrote_past_slots = true;
    out.host_calls = h.host_calls;
    out.scratch_peak_bytes = h.scratch_peak_bytes;
    out.peak_bytes = h.call_peak_bytes;
    out.requested_bytes = h.call_requested_bytes;
    out.scratch_left = release_unowned(false);
    out.blocks_leaked = release_unowned(true);
    if (out.failed) {
        out.arrays_created = h.created_in_call.size();
        for (mxArray* a : std::vector<mxArray*>(h.created_in_call.begin(), h.created_in_call.end()))
            mxDestroyArray(a);
    } else {
        for (size_t s = 0; s < nslots; ++s) {
            out.outputs.emplace_back(slots[s]);
            h.created_in_call.erase(slots[s]);
            if (slots[s] != nullptr) out.output_bytes += storage_bytes(slots[s]);
        }
        out.stray_arrays = h.created_in_call.size();
        for (mxArray* a : std::vector<mxArray*>(h.created_in_call.begin(), h.created_in_call.end()))
            mxDestroyArray(a);
    }
    h.created_in_call.clear();
    for (size_t i = 0; i < inputs.size(); ++i)
        if (fingerprint(inputs[i]) != before[i]) out.inputs_changed = true;
    return out;
}

MexFunction load_mex(const std::string& path)
{
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr)
        throw std::runtime_error("LoadLibrary of " + path + ": error " + std::to_string(GetLastError()));
    FARPROC symbol = GetProcAddress(handle, "mexFunction");
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    void* symbol = dlsym(handle, "mexFunction");
#endif
    if (symbol == nullptr) throw std::runtime_error("no mexFunction in " + path);
    // Through the generic function type, which converts to any other without a warning.
    return reinterpret_cast<MexFunction>(reinterpret_cast<void (*)()>(symbol));
}

size_t live_scratch_blocks()
{
    size_t n = 0;
    for (const auto& entry : host().blocks)
        if (entry.second.owner == nullptr && !entry.second.dropped) ++n;
    return n;
}

void fail_allocation_at(long n)
{
    host().fail_at = n;
    host().requested = 0;
}

long allocations_requested()
{
    return host().requested;
}

void set_allocation_limit(size_t bytes)
{
    host().allocation_limit = bytes;
}

long allocations_refused()
{
    return host().refused;
}

size_t live_arrays()
{
    return host().arrays.size();
}

size_t live_blocks()
{
    return host().blocks.size();
}

}  // namespace standin

// ---------------------------------------------------------------------------------------------
// What the MEX half needs from this one.

namespace standin::internal {

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
