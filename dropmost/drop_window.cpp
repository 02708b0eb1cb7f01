// Windows of magnitudes where a running sum crosses tol, found by histograms over the leading
// bits of the magnitudes, and the gathers that pick a window's magnitudes out.
#include "drop_internal.h"

#include "bit_length.h"

#include <algorithm>
#include <cmath>
#include <limits>

static constexpr double INF = std::numeric_limits<double>::infinity();
static constexpr uint64_t MANTISSA = (uint64_t{1} << 52) - 1;
static constexpr uint64_t ONE_BITS = 0x3FF0000000000000;
static constexpr uint64_t MIN_NORMAL_BITS = uint64_t{1} << 52;

// One level's buckets over [w.lo, w.hi): bucket b holds the magnitudes whose bits, less first,
// shifted right by shift, equal b. first is a multiple of 1 << shift and shift is at most 52,
// so a bucket never straddles two binades: its magnitudes share one exponent, and a bucket sums
// their significands (in [1, 2); [0, 1) below the normal range) without overflow. Over many
// magnitudes each bucket is kept in COPIES copies, entry k adding to copy k % COPIES, so that a
// run of magnitudes in one bucket makes that many independent chains of additions instead of
// one; over few, one copy is cheaper to clear than the chains cost.
constexpr uint64_t COPIES = 4;
constexpr uint64_t COPIED_FROM = 65536;

struct Histogram {
    uint64_t first;
    unsigned shift;
    uint64_t nbuckets;
    uint64_t copies;  // 1 or COPIES
    uint64_t* count;  // copies rows of nbuckets + 1; the last of each counts what lies outside
    double* sum;      // the same: each bucket's sum of significands, or of their squares
};

// Buckets a level, as a power of two: about a quarter of the magnitudes it reads, between 2^11
// (the fewest that separate every binade) and 2^13 (whose copies stay in the second-level cache).
static unsigned key_bits_for(uint64_t n)
{
    unsigned bits = 0;
    for (; (uint64_t{1} << bits) < n / 4 && bits < 13; ++bits) {
    }
    return bits < 11 ? 11 : bits;
}

static Histogram histogram_for(const Window& w, uint64_t n)
{
    Histogram h;
    const unsigned span = bit_length(w.hi - w.lo - 1), key_bits = key_bits_for(n);
    h.shift = span > key_bits ? span - key_bits : 0;
    h.first = w.lo & ~((uint64_t{1} << h.shift) - 1);
    h.nbuckets = ((w.hi - 1 - h.first) >> h.shift) + 1;
    h.copies = n >= COPIED_FROM ? COPIES : 1;
    h.count = static_cast<uint64_t*>(take_scratch(h.copies * (h.nbuckets + 1), sizeof(uint64_t)));
    h.sum = static_cast<double*>(take_scratch(h.copies * (h.nbuckets + 1), sizeof(double)));
    return h;
}

static void release_histogram(const Histogram& h)
{
    release_scratch(h.sum);
    release_scratch(h.count);
}

// Without a branch: subnormals are rare, but a mispredicted one costs more than the subtraction.
static inline double significand(uint64_t bits)
{
    const double m = bits_to_double((bits & MANTISSA) | ONE_BITS);
    return m - masked(1.0, bits < MIN_NORMAL_BITS);
}

// Every magnitude goes to a bucket, those outside the window to the last one, so the loop has no
// branch on the values.
template <bool SQUARES>
static void fill_histogram(Histogram* h, const double* values, uint64_t n, uint64_t lo,
                           uint64_t hi)
{
    const uint64_t row = h->nbuckets + 1, first = h->first, outside = h->nbuckets;
    const uint64_t copy_mask = h->copies - 1;
    const unsigned shift = h->shift;
    uint64_t* count = h->count;
    double* sum = h->sum;
    const uint64_t span = hi - lo;
    for (uint64_t k = 0; k < n; ++k) {
        const uint64_t bits = magnitude_bits(values[k]);
        // One unsigned comparison tells inside from outside (below lo the difference wraps), and
        // a mask picks the bucket: magnitudes in and out of the window mixed at random would
        // mispredict a branch.
        const uint64_t inside = uint64_t{0} - static_cast<uint64_t>(bits - lo < span);
        const uint64_t bucket = (((bits - first) >> shift) & inside) | (outside & ~inside);
        const uint64_t b = (k & copy_mask) * row + bucket;
        const double m = significand(bits);
        ++count[b];
        sum[b] += SQUARES ? m * m : m;
    }
    for (uint64_t c = 1; c < h->copies; ++c) {
        for (uint64_t b = 0; b < h->nbuckets; ++b) {
            count[b] += count[c * row + b];
            sum[b] += sum[c * row + b];
        }
    }
}

// What bucket b adds to the scaled sum: its significand sum times its binade's power of two
// over tol's (squared for squares). The binade of the infinities adds +Inf.
static double bucket_value(const Histogram& h, uint64_t b, const Scale& s)
{
    const uint64_t biased = (h.first + (b << h.shift)) >> 52;
    if (biased == 2047) return INF;
    const int exponent = (biased == 0 ? 1 : static_cast<int>(biased)) - 1023;
    return std::ldexp(h.sum[b], (s.squares ? 2 : 1) * (exponent - s.tol_exponent));
}

// The first bucket whose running sum does not surely fit, and the sum before it; nbuckets when
// every bucket surely fits.
static uint64_t first_unsure_bucket(const Histogram& h, const Scale& s, double* running)
{
    for (uint64_t b = 0; b < h.nbuckets; ++b) {
        if (h.count[b] == 0) continue;
        const double next = *running + bucket_value(h, b, s);
        if (!surely_fits(next, s)) return b;
        *running = next;
    }
    return h.nbuckets;
}

Window narrow_window(const double* values, uint64_t n, const Window& w, const Scale& s,
                     SparsestDrop* work)
{
    Histogram h = histogram_for(w, n);
    if (s.squares)
        fill_histogram<true>(&h, values, n, w.lo, w.hi);
    else
        fill_histogram<false>(&h, values, n, w.lo, w.hi);
    work->entries_read += n;
    double running = w.base;
    const uint64_t from = first_unsure_bucket(h, s, &running);
    Window out = {w.hi, w.hi, running, 0};
    if (from < h.nbuckets) {
        out.base = running;
        const uint64_t start = h.first + (from << h.shift);
        out.lo = start > w.lo ? start : w.lo;
        // Up to the first bucket that surely exceeds, or else the last that holds any.
        uint64_t last = from;
        for (uint64_t b = from; b < h.nbuckets; ++b) {
            if (h.count[b] == 0) continue;
            last = b;
            running += bucket_value(h, b, s);
            out.count += h.count[b];
            if (surely_exceeds(running, s)) break;
        }
        const uint64_t end = h.first + ((last + 1) << h.shift);
        out.hi = end < w.hi ? end : w.hi;
    }
    release_histogram(h);
    return out;
}

uint64_t gather_bits(const double* values, uint64_t n, uint64_t lo, uint64_t hi, uint64_t* out)
{
    uint64_t w = 0;
    for (uint64_t k = 0; k < n; ++k) {
        const uint64_t bits = magnitude_bits(values[k]);
        if (bits >= lo && bits < hi) out[w++] = bits;
    }
    return w;
}

uint64_t least_bits_in(const double* values, uint64_t n, uint64_t lo, uint64_t hi)
{
    uint64_t least = hi;
    for (uint64_t k = 0; k < n; ++k) {
        const uint64_t bits = magnitude_bits(values[k]);
        if (bits >= lo && bits < least) least = bits;
    }
    return least;
}

// A level over a span of at most 2^key_bits bit patterns has a bucket per pattern: the next
// would split nothing.
static bool finest_level(const Window& w, uint64_t n)
{
    return w.hi - w.lo <= (uint64_t{1} << key_bits_for(n));
}

static double* gather_magnitudes(const double* values, uint64_t n, const Window& w)
{
    double* out = static_cast<double*>(take_scratch(w.count, sizeof(double)));
    uint64_t m = 0;
    for (uint64_t k = 0; k < n; ++k) {
        const uint64_t bits = magnitude_bits(values[k]);
        if (bits >= w.lo && bits < w.hi) out[m++] = bits_to_double(bits);
    }
    return out;
}

// Sorts bits[0 .. n-1], each in [lo, hi), by counting each pattern.
static void sort_by_counting(uint64_t* bits, uint64_t n, uint64_t lo, uint64_t hi)
{
    uint64_t* count = static_cast<uint64_t*>(take_scratch(hi - lo, sizeof(uint64_t)));
    for (uint64_t k = 0; k < n; ++k) ++count[bits[k] - lo];
    uint64_t k = 0;
    for (uint64_t p = 0; p < hi - lo; ++p)
        for (uint64_t c = 0; c < count[p]; ++c) bits[k++] = lo + p;
    release_scratch(count);
}

// w narrowed to the magnitudes it holds, least to largest: a first level then splits their
// spread, however closely they crowd together, rather than the whole range of doubles.
static Window tightened(const double* values, uint64_t n, Window w)
{
    uint64_t least = w.hi, largest = w.lo;
    for (uint64_t k = 0; k < n; ++k) {
        const uint64_t bits = magnitude_bits(values[k]);
        const bool inside = bits >= w.lo && bits < w.hi;
        least = inside && bits < least ? bits : least;
        largest = inside && bits > largest ? bits : largest;
    }
    if (least < w.hi) {
        w.lo = least;
        w.hi = largest + 1;
    }
    return w;
}

Candidates window_candidates(const double* values, uint64_t n, Window w, const Scale& s,
                             SparsestDrop* work)
{
    if (w.count > SORT_AT_MOST) {
        w = tightened(values, n, w);
        work->entries_read += n;
    }
    double* level = nullptr;  // the current window's magnitudes, once a level has picked them
    const double* source = values;
    uint64_t nsource = n;
    bool finest = false;
    while (w.count > SORT_AT_MOST && w.hi - w.lo > 1 && !finest) {
        finest = finest_level(w, nsource);
        const Window wider = w;
        w = narrow_window(source, nsource, w, s, work);
        // A level that splits nothing off would split nothing off again: sort what is left.
        if (w.lo == wider.lo && w.hi == wider.hi) finest = true;
        double* picked = gather_magnitudes(source, nsource, w);
        work->entries_read += nsource;
        release_scratch(level);
        level = picked;
        source = picked;
        nsource = w.count;
    }
    Candidates c;
    c.bits = static_cast<uint64_t*>(take_scratch(w.count, sizeof(uint64_t)));
    c.n = gather_bits(source, nsource, w.lo, w.hi, c.bits);
    work->entries_read += nsource;
    release_scratch(level);
    if (c.n > SORT_AT_MOST && w.hi - w.lo <= FEWEST_PATTERNS_COUNTED)
        sort_by_counting(c.bits, c.n, w.lo, w.hi);
    else
        std::sort(c.bits, c.bits + c.n);
    work->entries_sorted += c.n;
    c.window = w;
    return c;
}
