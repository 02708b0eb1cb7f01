// The stand-in host's test-side face, declared in standin.h: builds input arrays of any class,
// reads outputs, calls a mexFunction the way a host does and reports what the call left behind,
// working on the state the host calls keep (standin_internal.h).
#include "standin.h"
#include "standin_internal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace standin {

using namespace internal;

namespace {

// Stores x as element k of data, an array of class c, converted by value.
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

}  // namespace

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
