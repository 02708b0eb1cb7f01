// The state the stand-in's host calls and its test harness share: the live arrays, every block
// with its owner, and the bookkeeping of the current call. standin_libmx.cpp (MATLAB's libmx)
// defines it with the array calls; standin_libmex.cpp (libmex) and standin_harness.cpp (the
// test-side face, standin.h) use it. The tests build all three into one library; the drivers of
// the shipped binaries build libmx with the harness, and libmex apart.
#pragma once

#include "mex.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

namespace standin::internal {

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

// The one host state of the process, made on first use.
HostState& host();

// Records a host operation in the call's log.
void log_call(const char* name);

// End the current call with an error, as the host's error call does.
[[noreturn]] void raise(const std::string& identifier, const std::string& message);
[[noreturn]] void misuse(const std::string& what);

// A zero-filled block of bytes (at least 1 allocated), owned by owner or, with nullptr, scratch
// of the current call; release frees a block the host knows. Either counts the call's bytes.
void* allocate(size_t bytes, const mxArray* owner);
void release(void* p);

// Bytes of one element of class c.
size_t element_size(mxClassID c);
// The element count of dims; a product beyond size_t ends the call with "Out of memory.".
size_t count_of(const std::vector<size_t>& dims);

// A live array with no storage yet; give_*_storage allocate its data blocks, owned by it.
mxArray* new_array(mxClassID c, bool sparse, bool complex, std::vector<size_t> dims);
void give_full_storage(mxArray* a);
void give_sparse_storage(mxArray* a, size_t nzmax);

// The host's char of a 1-by-1 string object: a new 1-by-n character array made by the call.
mxArray* char_of(const mxArray* a);

}  // namespace standin::internal
