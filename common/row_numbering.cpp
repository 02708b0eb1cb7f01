#include "row_numbering.h"

// Rows are sorted by this many bits a pass: 2048 counters fit in the first-level cache.
static constexpr unsigned DIGIT_BITS = 11;
static constexpr uint64_t DIGITS = uint64_t{1} << DIGIT_BITS;

static unsigned bit_length(uint64_t n)
{
    unsigned bits = 0;
    for (; n > 0; n >>= 1) ++bits;
    return bits;
}

// One stable counting pass: positions from `from` to `to`, by the digit of their row at shift.
static void sort_by_digit(const uint64_t* ir, uint64_t nnz, unsigned shift, const uint64_t* from,
                          uint64_t* to)
{
    uint64_t start[DIGITS + 1] = {};
    for (uint64_t q = 0; q < nnz; ++q) ++start[((ir[from[q]] >> shift) & (DIGITS - 1)) + 1];
    for (uint64_t d = 0; d < DIGITS; ++d) start[d + 1] += start[d];
    for (uint64_t q = 0; q < nnz; ++q) to[start[(ir[from[q]] >> shift) & (DIGITS - 1)]++] = from[q];
}

uint64_t number_occupied_rows(const uint64_t* ir, uint64_t nnz, uint64_t nrows, uint64_t* row_of,
                              uint64_t* order, uint64_t* spare)
{
    if (nnz == 0) return 0;
    for (uint64_t k = 0; k < nnz; ++k) order[k] = k;
    const unsigned bits = bit_length(nrows - 1);
    for (unsigned shift = 0; shift < bits; shift += DIGIT_BITS) {
        sort_by_digit(ir, nnz, shift, order, spare);
        uint64_t* sorted = spare;
        spare = order;
        order = sorted;
    }
    uint64_t rows = 1;
    row_of[order[0]] = 0;
    for (uint64_t q = 1; q < nnz; ++q) {
        rows += ir[order[q]] != ir[order[q - 1]];
        row_of[order[q]] = rows - 1;
    }
    return rows;
}
