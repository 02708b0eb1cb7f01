#include "row_numbering.h"

#include "bit_length.h"

// Digits of at most this many bits: 2048 counters fit in the first-level cache.
static constexpr unsigned DIGIT_BITS = 11;
static constexpr uint64_t DIGITS = uint64_t{1} << DIGIT_BITS;
// The first pass splits the entries into buckets of about 2^BUCKET_BITS words (32 KiB), so
// that the passes over each bucket run within the cache.
static constexpr unsigned BUCKET_BITS = 12;
// A bucket of at most this many words is sorted by insertion: fewer steps than a digit pass.
static constexpr uint64_t FEW_WORDS = 32;

struct RowRange {
    uint64_t lo, hi;
};

static RowRange row_range(const uint64_t* ir, uint64_t nnz)
{
    RowRange r = {ir[0], ir[0]};
    for (uint64_t k = 1; k < nnz; ++k) {
        if (ir[k] < r.lo) r.lo = ir[k];
        if (ir[k] > r.hi) r.hi = ir[k];
    }
    return r;
}

// Bits of the first pass's digit, at the top of the row_bits that rows less the smallest one
// span: enough for buckets of about 2^BUCKET_BITS words, and enough that the bits below it fit
// in a word beside a position of pos_bits. More than DIGIT_BITS where the rows are too far apart
// for that.
static unsigned top_digit_bits(unsigned row_bits, unsigned pos_bits, uint64_t nnz)
{
    const unsigned needed = row_bits + pos_bits > 64 ? row_bits + pos_bits - 64 : 0;
    if (needed > DIGIT_BITS) return needed;
    const unsigned size = bit_length(nnz);
    unsigned top = size > BUCKET_BITS ? size - BUCKET_BITS : 0;
    if (top > DIGIT_BITS) top = DIGIT_BITS;
    if (top < needed) top = needed;
    return top < row_bits ? top : row_bits;
}

// Splits the positions 0 .. nnz-1 into buckets by the digit of their row less lo at rest_bits
// and up (at most DIGITS of them), in increasing order of the digit and each in position order.
// Each becomes one word: the row's bits below the digit, then the position in the low pos_bits
// (rest_bits + pos_bits <= 64). end[d] receives the end of bucket d in words.
static void split_by_top_digit(const uint64_t* ir, uint64_t nnz, uint64_t lo, unsigned rest_bits,
                               unsigned pos_bits, uint64_t* end, uint64_t* words)
{
    const uint64_t rest_mask = (uint64_t{1} << rest_bits) - 1;
    for (uint64_t d = 0; d <= DIGITS; ++d) end[d] = 0;
    for (uint64_t k = 0; k < nnz; ++k) ++end[((ir[k] - lo) >> rest_bits) + 1];
    for (uint64_t d = 0; d < DIGITS; ++d) end[d + 1] += end[d];
    for (uint64_t k = 0; k < nnz; ++k) {
        const uint64_t key = ir[k] - lo;
        words[end[key >> rest_bits]++] = ((key & rest_mask) << pos_bits) | k;
    }
}

// One stable counting pass over n words from `from` to `to`, by their digit of `width` bits at
// `shift`. Returns false, moving nothing, where every word has the same digit.
static bool sort_by_digit(const uint64_t* from, uint64_t* to, uint64_t n, unsigned shift,
                          unsigned width)
{
    const uint64_t mask = (uint64_t{1} << width) - 1;
    uint64_t start[DIGITS + 1];
    for (uint64_t d = 0; d <= mask + 1; ++d) start[d] = 0;
    for (uint64_t q = 0; q < n; ++q) ++start[((from[q] >> shift) & mask) + 1];
    if (start[((from[0] >> shift) & mask) + 1] == n) return false;
    for (uint64_t d = 0; d < mask; ++d) start[d + 1] += start[d];
    for (uint64_t q = 0; q < n; ++q) to[start[(from[q] >> shift) & mask]++] = from[q];
    return true;
}

static void insertion_sort(uint64_t* words, uint64_t n)
{
    for (uint64_t q = 1; q < n; ++q) {
        const uint64_t x = words[q];
        uint64_t r = q;
        for (; r > 0 && words[r - 1] > x; --r) words[r] = words[r - 1];
        words[r] = x;
    }
}

// Puts the n words of one bucket in increasing order of their rest_bits above pos_bits, in
// place; spare has room for n.
static void sort_bucket(uint64_t* words, uint64_t* spare, uint64_t n, unsigned pos_bits,
                        unsigned rest_bits)
{
    // The whole word orders by the row first, and equal rows may come in any order.
    if (n <= FEW_WORDS) {
        insertion_sort(words, n);
        return;
    }
    // No more counters than words, so that a bucket costs in proportion to its words.
    const unsigned most = bit_length(n) - 1 < DIGIT_BITS ? bit_length(n) - 1 : DIGIT_BITS;
    uint64_t* from = words;
    uint64_t* to = spare;
    for (unsigned done = 0; done < rest_bits; done += most) {
        const unsigned width = rest_bits - done < most ? rest_bits - done : most;
        if (!sort_by_digit(from, to, n, pos_bits + done, width)) continue;
        uint64_t* sorted = to;
        to = from;
        from = sorted;
    }
    if (from != words)
        for (uint64_t q = 0; q < n; ++q) words[q] = from[q];
}

// Numbers the rows of one bucket in order on from `rows`, the rows numbered so far: its rows lie
// above theirs. Returns the rows numbered with its own.
static uint64_t number_bucket(const uint64_t* words, uint64_t n, unsigned pos_bits, uint64_t rows,
                              uint64_t* row_of)
{
    const uint64_t pos_mask = (uint64_t{1} << pos_bits) - 1;
    uint64_t row = words[0] >> pos_bits;
    row_of[words[0] & pos_mask] = rows;
    for (uint64_t q = 1; q < n; ++q) {
        const uint64_t next = words[q] >> pos_bits;
        rows += next != row;
        row = next;
        row_of[words[q] & pos_mask] = rows;
    }
    return rows + 1;
}

// Rows too far apart for a word to hold them beside a position: a stable radix sort of the
// positions by the row_bits of their row less lo, each pass reading the rows through them. The
// passes alternate between order and spare, starting where they end in order.
static uint64_t number_by_gathering(const uint64_t* ir, uint64_t nnz, uint64_t lo,
                                    unsigned row_bits, uint64_t* order, uint64_t* spare)
{
    const unsigned passes = (row_bits + DIGIT_BITS - 1) / DIGIT_BITS;
    uint64_t* from = passes % 2 == 0 ? order : spare;
    uint64_t* to = passes % 2 == 0 ? spare : order;
    for (uint64_t k = 0; k < nnz; ++k) from[k] = k;
    for (unsigned shift = 0; shift < row_bits; shift += DIGIT_BITS) {
        uint64_t start[DIGITS + 1] = {};
        for (uint64_t q = 0; q < nnz; ++q)
            ++start[(((ir[from[q]] - lo) >> shift) & (DIGITS - 1)) + 1];
        for (uint64_t d = 0; d < DIGITS; ++d) start[d + 1] += start[d];
        for (uint64_t q = 0; q < nnz; ++q) {
            const uint64_t d = ((ir[from[q]] - lo) >> shift) & (DIGITS - 1);
            to[start[d]++] = from[q];
        }
        uint64_t* sorted = to;
        to = from;
        from = sorted;
    }
    // from is order; spare, free now, receives the numbers.
    uint64_t rows = 1;
    spare[order[0]] = 0;
    for (uint64_t q = 1; q < nnz; ++q) {
        rows += ir[order[q]] != ir[order[q - 1]];
        spare[order[q]] = rows - 1;
    }
    return rows;
}

uint64_t number_occupied_rows(const uint64_t* ir, uint64_t nnz, uint64_t* row_of, uint64_t* words)
{
    if (nnz == 0) return 0;
    const RowRange range = row_range(ir, nnz);
    const unsigned row_bits = bit_length(range.hi - range.lo);
    const unsigned pos_bits = bit_length(nnz - 1);
    const unsigned top = top_digit_bits(row_bits, pos_bits, nnz);
    if (top > DIGIT_BITS) return number_by_gathering(ir, nnz, range.lo, row_bits, words, row_of);
    const unsigned rest_bits = row_bits - top;
    uint64_t end[DIGITS + 1];
    split_by_top_digit(ir, nnz, range.lo, rest_bits, pos_bits, end, words);
    // row_of serves as the buckets' spare room until every bucket is in order.
    const uint64_t nbuckets = uint64_t{1} << top;
    for (uint64_t d = 0, start = 0; d < nbuckets; start = end[d], ++d)
        if (end[d] > start)
            sort_bucket(words + start, row_of + start, end[d] - start, pos_bits, rest_bits);
    uint64_t rows = 0;
    for (uint64_t d = 0, start = 0; d < nbuckets; start = end[d], ++d)
        if (end[d] > start)
            rows = number_bucket(words + start, end[d] - start, pos_bits, rows, row_of);
    return rows;
}
