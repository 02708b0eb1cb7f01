#include "bench_floors.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

typedef uint64_t Words2 __attribute__((vector_size(16)));
typedef uint64_t Words4 __attribute__((vector_size(32)));

const size_t STEP = 128;               // bytes per step: two cache lines
const size_t PREFETCH_AHEAD = 2048;    // bytes

// The bytes past the last whole step, 8 at a time and then one by one.
uint64_t fold_tail(const unsigned char* p, size_t nbytes)
{
    uint64_t fold = 0;
    size_t b = 0;
    for (; b + 8 <= nbytes; b += 8) {
        uint64_t word;
        std::memcpy(&word, p + b, 8);
        fold ^= word;
    }
    for (; b < nbytes; ++b) fold ^= p[b];
    return fold;
}

// One vector from p, unaligned: memcpy keeps clear of aliasing rules and becomes one load.
template <typename Words>
inline Words load_words(const unsigned char* p)
{
    Words w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

template <bool prefetch>
uint64_t fold_steps_sse(const unsigned char* p, size_t nsteps, size_t nbytes)
{
    Words2 a = {0, 0}, b = {0, 0}, c = {0, 0}, d = {0, 0};
    for (size_t s = 0; s < nsteps; ++s) {
        const unsigned char* q = p + s * STEP;
        if (prefetch) __builtin_prefetch(p + std::min(s * STEP + PREFETCH_AHEAD, nbytes - 1));
        a ^= load_words<Words2>(q);
        b ^= load_words<Words2>(q + 16);
        c ^= load_words<Words2>(q + 32);
        d ^= load_words<Words2>(q + 48);
        a ^= load_words<Words2>(q + 64);
        b ^= load_words<Words2>(q + 80);
        c ^= load_words<Words2>(q + 96);
        d ^= load_words<Words2>(q + 112);
    }
    const Words2 all = a ^ b ^ c ^ d;
    return all[0] ^ all[1];
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) uint64_t fold_steps_avx2(const unsigned char* p, size_t nsteps)
{
    Words4 a = {0, 0, 0, 0}, b = {0, 0, 0, 0}, c = {0, 0, 0, 0}, d = {0, 0, 0, 0};
    for (size_t s = 0; s < nsteps; ++s) {
        const unsigned char* q = p + s * STEP;
        Words4 w;
        std::memcpy(&w, q, 32);
        a ^= w;
        std::memcpy(&w, q + 32, 32);
        b ^= w;
        std::memcpy(&w, q + 64, 32);
        c ^= w;
        std::memcpy(&w, q + 96, 32);
        d ^= w;
    }
    const Words4 all = a ^ b ^ c ^ d;
    return all[0] ^ all[1] ^ all[2] ^ all[3];
}
#endif

#ifdef __SSE2__
// Non-temporal stores need a 16-byte aligned target: memcpy up to the first such address, then
// whole 64-byte blocks, then memcpy of the tail. The fence orders the stores before returning.
void copy_streaming(unsigned char* to, const unsigned char* from, size_t nbytes)
{
    const size_t head = std::min(nbytes, (16 - reinterpret_cast<uintptr_t>(to) % 16) % 16);
    std::memcpy(to, from, head);
    size_t b = head;
    for (; b + 64 <= nbytes; b += 64) {
        const __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + b));
        const __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + b + 16));
        const __m128i w2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + b + 32));
        const __m128i w3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + b + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + b), w0);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + b + 16), w1);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + b + 32), w2);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + b + 48), w3);
    }
    std::memcpy(to + b, from + b, nbytes - b);
    _mm_sfence();
}
#endif

}  // namespace

const char* read_way_name(ReadWay way)
{
    static const char* const names[] = {"stream", "prefetch", "avx2"};
    return names[way];
}

bool read_way_available(ReadWay way)
{
#if defined(__x86_64__) || defined(__i386__)
    return way != READ_WIDE || __builtin_cpu_supports("avx2");
#else
    return way != READ_WIDE;
#endif
}

const char* copy_way_name(CopyWay way)
{
    static const char* const names[] = {"memcpy", "stream"};
    return names[way];
}

bool copy_way_available(CopyWay way)
{
#ifdef __SSE2__
    return way < COPY_WAY_COUNT;
#else
    return way == COPY_MEMCPY;
#endif
}

__attribute__((noinline)) uint64_t read_bytes(ReadWay way, const void* bytes, size_t nbytes)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    const size_t nsteps = nbytes / STEP;
    uint64_t fold = fold_tail(p + nsteps * STEP, nbytes - nsteps * STEP);
    if (way == READ_STREAM) fold ^= fold_steps_sse<false>(p, nsteps, nbytes);
    if (way == READ_PREFETCH) fold ^= fold_steps_sse<true>(p, nsteps, nbytes);
#if defined(__x86_64__) || defined(__i386__)
    if (way == READ_WIDE) fold ^= fold_steps_avx2(p, nsteps);
#endif
    return fold;
}

__attribute__((noinline)) void copy_bytes(CopyWay way, void* to, const void* from, size_t nbytes)
{
#ifdef __SSE2__
    if (way == COPY_STREAM) {
        copy_streaming(static_cast<unsigned char*>(to), static_cast<const unsigned char*>(from),
                       nbytes);
        return;
    }
#endif
    std::memcpy(to, from, nbytes);
}

__attribute__((noinline)) double add_chain(const double* pr, uint64_t n, uint64_t nnz)
{
    double total = 0.0;
    for (uint64_t done = 0; done < nnz; done += n) {
        const uint64_t count = std::min(n, nnz - done);
        for (uint64_t k = 0; k < count; ++k) total += pr[k];
    }
    return total;
}

__attribute__((noinline)) uint64_t read_all_write_kept(ReadWay read_way, CopyWay copy_way,
                                                       const double* pr, const uint64_t* ir,
                                                       uint64_t nnz, uint64_t nkept,
                                                       double* pr_out, uint64_t* ir_out)
{
    copy_bytes(copy_way, pr_out, pr, nkept * sizeof(double));
    copy_bytes(copy_way, ir_out, ir, nkept * sizeof(uint64_t));
    return read_bytes(read_way, pr + nkept, (nnz - nkept) * sizeof(double)) ^
           read_bytes(read_way, ir + nkept, (nnz - nkept) * sizeof(uint64_t));
}
