// Hints that memory will be needed soon. They change no result, and compile to nothing where the
// compiler offers no prefetch (the passes over large matrices wait on memory more than on their
// arithmetic; hardware prefetching alone does not follow a gather or a scatter).
#pragma once

#include <cstdint>

// How far ahead, in entries, each kind of read is asked for. Streams (values, row indices, the
// entries a copy reads) run far ahead of their use; the four columns of a group take four
// entries a step; the row sums of a scatter and the entries a candidate list gathers are asked
// for once their addresses are known, a short way ahead.
constexpr uint64_t STREAM_AHEAD = 512;
constexpr uint64_t COLUMN_GROUP_AHEAD = 256;
constexpr uint64_t SCATTER_AHEAD = 64;
constexpr uint64_t GATHER_AHEAD = 64;
constexpr uint64_t GATHERED_SCATTER_AHEAD = 16;

// Sums up to this many (256 KiB of them) stay in the second-level cache while a pass scatters
// into them: asking for them ahead only costs instructions.
constexpr uint64_t CACHED_SUMS = 32768;

inline void prefetch_for_read(const void* p)
{
#if defined(__GNUC__)
    __builtin_prefetch(p, 0);
#else
    (void)p;
#endif
}

// For memory that will be read and written.
inline void prefetch_for_update(const void* p)
{
#if defined(__GNUC__)
    __builtin_prefetch(p, 1);
#else
    (void)p;
#endif
}
