// The infinity norm's limit: the least of the rows' own limits. Rows are spread over the
// columns, so a row's magnitudes are gathered, in storage order, before its limit is worked out.
#include "drop_internal.h"

#include "host_matrix.h"

static constexpr uint64_t SAMPLED_GROUPS = 1024;
static constexpr uint64_t NOT_GATHERED = UINT64_MAX;

void row_sums_below(const double* pr, const uint64_t* row, uint64_t nnz, uint64_t limit,
                    double* rowsum)
{
    for (uint64_t k = 0; k < nnz; ++k) {
        const uint64_t bits = magnitude_bits(pr[k]);
        rowsum[row[k]] += masked(bits_to_double(bits), bits < limit);
    }
}

// Where each gathered row's magnitudes below limit start in one array, in storage order within
// the row: start[s] .. start[s + 1] - 1 for the row in slot s.
static uint64_t* gathered_starts(const CscView& a, const uint64_t* row, const uint64_t* slot,
                                 uint64_t nslots, uint64_t limit)
{
    uint64_t* start = static_cast<uint64_t*>(take_scratch(nslots + 1, sizeof(uint64_t)));
    for (uint64_t k = 0; k < a.nnz; ++k) {
        const uint64_t s = slot[row[k]];
        if (s != NOT_GATHERED && magnitude_bits(a.pr[k]) < limit) ++start[s + 1];
    }
    for (uint64_t s = 0; s < nslots; ++s) start[s + 1] += start[s];
    return start;
}

static double* gather_rows(const CscView& a, const uint64_t* row, const uint64_t* slot,
                           const uint64_t* start, uint64_t nslots, uint64_t limit)
{
    double* values = static_cast<double*>(take_scratch(start[nslots], sizeof(double)));
    uint64_t* next = static_cast<uint64_t*>(take_scratch(nslots, sizeof(uint64_t)));
    for (uint64_t s = 0; s < nslots; ++s) next[s] = start[s];
    for (uint64_t k = 0; k < a.nnz; ++k) {
        const uint64_t s = slot[row[k]];
        const uint64_t bits = magnitude_bits(a.pr[k]);
        if (s != NOT_GATHERED && bits < limit) values[next[s]++] = bits_to_double(bits);
    }
    release_scratch(next);
    return values;
}

// The least limit of the rows given a slot, starting from limit.
static uint64_t limit_of_slotted_rows(const CscView& a, const uint64_t* row, const uint64_t* slot,
                                      uint64_t nslots, double tol, uint64_t limit,
                                      SparsestDrop* work)
{
    uint64_t* start = gathered_starts(a, row, slot, nslots, limit);
    double* values = gather_rows(a, row, slot, start, nslots, limit);
    work->entries_read += 2 * a.nnz;
    work->passes += 2;
    for (uint64_t s = 0; s < nslots; ++s)
        limit = group_limit(values + start[s], start[s + 1] - start[s], tol, limit, work);
    release_scratch(values);
    release_scratch(start);
    return limit;
}

// Rows spread evenly over the matrix, worked out first: their least limit is near the least of
// all in most matrices, so few rows still exceed tol below it.
static uint64_t slot_sample(uint64_t* slot, uint64_t nrows)
{
    const uint64_t stride = nrows > SAMPLED_GROUPS ? nrows / SAMPLED_GROUPS : 1;
    uint64_t nslots = 0;
    for (uint64_t i = 0; i < nrows; ++i) slot[i] = i % stride == 0 ? nslots++ : NOT_GATHERED;
    return nslots;
}

static uint64_t slot_rows_above(uint64_t* slot, const double* rowsum, uint64_t nrows, double tol)
{
    uint64_t nslots = 0;
    for (uint64_t i = 0; i < nrows; ++i) slot[i] = rowsum[i] > tol ? nslots++ : NOT_GATHERED;
    return nslots;
}

uint64_t limit_of_rows(const CscView& a, double tol, SparsestDrop* work)
{
    const SummedRows rows = rows_to_sum(a);
    if (rows.numbered != nullptr) work->entries_read += a.nnz;
    uint64_t* slot = static_cast<uint64_t*>(take_scratch(rows.nrows, sizeof(uint64_t)));
    uint64_t limit = NO_LIMIT;
    if (rows.nrows > SAMPLED_GROUPS) {
        const uint64_t nsampled = slot_sample(slot, rows.nrows);
        limit = limit_of_slotted_rows(a, rows.row, slot, nsampled, tol, limit, work);
    }
    // Every row whose sum below the limit so far exceeds tol has a limit below it.
    double* rowsum = static_cast<double*>(take_scratch(rows.nrows, sizeof(double)));
    row_sums_below(a.pr, rows.row, a.nnz, limit, rowsum);
    work->entries_read += a.nnz;
    ++work->passes;
    const uint64_t nabove = slot_rows_above(slot, rowsum, rows.nrows, tol);
    release_scratch(rowsum);
    if (nabove > 0) limit = limit_of_slotted_rows(a, rows.row, slot, nabove, tol, limit, work);
    release_scratch(slot);
    release_rows(rows);
    return limit;
}
