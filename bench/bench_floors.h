// The floors the kernels are measured against are limits, not implementations: the time this
// machine needs to read once the bytes an operation must read (and write the bytes it must
// write), and the latency of one dependent addition per entry. None of these computes a norm.
#pragma once

#include <cstddef>
#include <cstdint>

// The ways a read limit walks its bytes. Each is timed, and on each matrix the fastest is the
// limit: which one wins depends on the machine.
enum ReadWay {
    READ_STREAM,    // 128 bytes a step into four independent 16-byte accumulators
    READ_PREFETCH,  // the same, each step asking for the line 2 KiB ahead
    READ_WIDE,      // 32-byte loads (AVX2), four accumulators; only where the CPU has AVX2
    READ_WAY_COUNT
};

const char* read_way_name(ReadWay way);
bool read_way_available(ReadWay way);

// Reads bytes[0 .. nbytes-1] once, folding every 8-byte word (and the tail's bytes) into one
// word with exclusive or, so that no load can be left out; returns the fold.
uint64_t read_bytes(ReadWay way, const void* bytes, size_t nbytes);

// The ways a write limit copies its bytes; the fastest on a matrix is the limit.
enum CopyWay {
    COPY_MEMCPY,  // the C library's memcpy
    COPY_STREAM,  // 16-byte loads and non-temporal stores (SSE2), around the cache
    COPY_WAY_COUNT
};

const char* copy_way_name(CopyWay way);
bool copy_way_available(CopyWay way);

// Copies from[0 .. nbytes-1] into to[0 .. nbytes-1] (not overlapping).
void copy_bytes(CopyWay way, void* to, const void* from, size_t nbytes);

// nnz dependent additions into one running total: pr[0 .. n-1] (n >= 1, few enough to stay in
// the first-level cache) added in order again and again until nnz values have been added.
double add_chain(const double* pr, uint64_t n, uint64_t nnz);

// Every value and row index read once, the first nkept of each written once: pr[0 .. nkept-1]
// and ir[0 .. nkept-1] copied as copy_bytes does into pr_out and ir_out (nkept each, already
// touched), pr[nkept .. nnz-1] and ir[nkept .. nnz-1] read as read_bytes does. Returns the
// reads' fold.
uint64_t read_all_write_kept(ReadWay read_way, CopyWay copy_way, const double* pr,
                             const uint64_t* ir, uint64_t nnz, uint64_t nkept, double* pr_out,
                             uint64_t* ir_out);
