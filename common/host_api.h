// The one file that includes the host's mex.h. Which host that is (GNU Octave, MATLAB with its
// 64-bit API, or the project's stand-in) is decided by the include path the build sets.
#pragma once

#include <mex.h>

#include <cstdint>

// Row indices and column pointers are 64-bit on every supported host; Octave's are signed,
// MATLAB's unsigned. The bits are the same for every valid index, so they are read as uint64_t.
static_assert(sizeof(mwIndex) == sizeof(uint64_t), "the host's mwIndex must be 64 bits wide");

#if defined(_WIN32)
#define MEX_EXPORT extern "C" __declspec(dllexport)
#else
#define MEX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

inline const uint64_t* host_ir(const mxArray* a)
{
    return reinterpret_cast<const uint64_t*>(mxGetIr(a));
}

inline const uint64_t* host_jc(const mxArray* a)
{
    return reinterpret_cast<const uint64_t*>(mxGetJc(a));
}

inline uint64_t* host_ir_out(mxArray* a)
{
    return reinterpret_cast<uint64_t*>(mxGetIr(a));
}

inline uint64_t* host_jc_out(mxArray* a)
{
    return reinterpret_cast<uint64_t*>(mxGetJc(a));
}

// Installs a block from mxCalloc or mxRealloc as the row-index array of a sparse matrix.
inline void host_set_ir(mxArray* a, void* block)
{
    mxSetIr(a, static_cast<mwIndex*>(block));
}
