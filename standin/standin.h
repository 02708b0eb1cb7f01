// Test-side face of the stand-in host: building input arrays, reading outputs, calling a
// mexFunction the way a host does, and watching memory. Only tests, fuzzers and benchmarks use it.
#pragma once

#include "mex.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace standin {

// Thrown by mexErrMsgIdAndTxt and by a failed host allocation; the call it ends never resumes.
struct HostError {
    std::string message;
    std::string identifier;
};

struct ArrayDeleter {
    void operator()(mxArray* a) const { mxDestroyArray(a); }
};
using Array = std::unique_ptr<mxArray, ArrayDeleter>;

// Input builders. Values are converted to the array's class by value.
Array sparse(uint64_t nrows, uint64_t ncols, const std::vector<uint64_t>& jc,
             const std::vector<uint64_t>& ir, const std::vector<double>& pr);
Array sparse_of_class(mxClassID class_id, bool complex, uint64_t nrows, uint64_t ncols,
                      const std::vector<uint64_t>& jc, const std::vector<uint64_t>& ir,
                      const std::vector<double>& pr);
Array full(mxClassID class_id, const std::vector<size_t>& dims, const std::vector<double>& values,
           bool complex = false);
Array scalar(double x);
Array text(const std::string& s);
Array text_rows(const std::vector<std::string>& rows);  // rows of equal length
Array text_utf16(const std::vector<mxChar>& chars);     // one row
Array opaque(mxClassID class_id);                       // 1-by-1 cell, struct or function handle
// MATLAB's string objects ("fro" in double quotes): one text per element, column-major.
Array string_object(const std::vector<std::string>& texts, const std::vector<size_t>& dims);
Array string_scalar(const std::string& text);
// Gives an array more dimensions, as a host would hold a 3-D array; its data stays as it is.
void set_dims(mxArray* a, const std::vector<size_t>& dims);
// Makes a sparse array claim more stored entries than it holds (its last column pointer), to
// test refusals that must come before any stored entry is read.
void overstate_stored_entries(mxArray* a, uint64_t nnz);

// Output readers.
struct SparseContents {
    uint64_t nrows, ncols, nzmax;
    std::vector<uint64_t> jc, ir;
    std::vector<double> pr;
};
SparseContents read_sparse(const mxArray* a);
// "" when a is a well-formed real double sparse matrix, else what is wrong with it.
std::string sparse_defect(const mxArray* a);
bool is_real_double_scalar(const mxArray* a);
double first_value(const mxArray* a);

// One call as a host makes it: max(nlhs, 1) output slots, an error ends the call, scratch left
// behind by a failed call is released (and counted), arrays made by a failed call are destroyed.
using MexFunction = void (*)(int, mxArray*[], int, const mxArray*[]);
struct Outcome {
    bool failed = false;
    std::string message;
    std::string identifier;
    std::vector<Array> outputs;     // one per slot given; empty where nothing was stored
    bool wrote_past_slots = false;  // anything stored beyond the slots given
    size_t arrays_created = 0;      // on failure: arrays the call made before it ended
    size_t stray_arrays = 0;        // on success: arrays made but not stored in a slot
    size_t scratch_left = 0;        // mxCalloc / mxRealloc blocks not released by the call
    size_t blocks_leaked = 0;       // blocks replaced by mxSetPr / mxSetIr and never released
    size_t scratch_peak_bytes = 0;  // most scratch bytes live at once during the call
    size_t peak_bytes = 0;          // most bytes held at once: scratch plus arrays made by the call
    size_t output_bytes = 0;        // on success: storage of the arrays in the slots at the end
    size_t requested_bytes = 0;     // every block the call asked of the host, summed
    bool inputs_changed = false;
    std::vector<std::string> host_calls;  // the host operations used, in order
};
Outcome call(MexFunction fn, int nlhs, const std::vector<const mxArray*>& inputs);

// Loads a built extension by file name and finds mexFunction in it, as a host does.
MexFunction load_mex(const std::string& path);

// Scratch blocks live right now (outside a call: what a kernel test forgot to release).
size_t live_scratch_blocks();

// Makes the n-th host allocation from now (1-based) fail like an out-of-memory error; 0 disarms.
void fail_allocation_at(long n);
// Host allocations requested since the last fail_allocation_at.
long allocations_requested();

// Inside a call, a single block larger than this many bytes ends the call with "Out of memory."
// (as a host does when it cannot find the memory); 0, the default, sets no limit.
void set_allocation_limit(size_t bytes);
// Requests refused since the program started: above that limit, or arrays of a size beyond
// size_t. An mxCalloc whose count times size overflows ends the program instead (see mxCalloc).
long allocations_refused();

// Arrays and blocks (scratch or array storage) alive right now, inputs and kept outputs included.
size_t live_arrays();
size_t live_blocks();

}  // namespace standin
