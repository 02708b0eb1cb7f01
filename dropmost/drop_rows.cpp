// The infinity norm: the least of the rows' own limits, and the dropped part below it. Rows are
// spread over the columns, so a row's magnitudes are gathered, in storage order, before its
// limit is worked out.
#include "drop_internal.h"

#include "host_matrix.h"

// Rows worked out first, one in 2^SAMPLE_SHIFT spread over the matrix (where that makes at least
// SAMPLED_AT_LEAST rows): their least limit is near the least of all in most matrices, so few
// rows still exceed tol below it.
static constexpr unsigned SAMPLE_SHIFT = 6;
static constexpr uint64_t SAMPLED_AT_LEAST = 1024;

// Which rows are gathered and into which slot: every row whose number is a multiple of
// 2^shift (the sample, slot = row >> shift), or the rows marked in a bitmap (slot from a table).
// Every other row goes to slot nslots, a sink that is written but never kept, so that the
// gathers do not branch on the rows they meet.
struct RowPick {
    unsigned shift;
    const uint64_t* marked;  // one bit a row, or null for the sample
    const uint64_t* slot;    // the marked rows' slots
    uint64_t nslots;
};

static inline uint64_t slot_of(const RowPick& p, uint64_t r)
{
    if (p.marked != nullptr) return (p.marked[r >> 6] >> (r & 63)) & 1 ? p.slot[r] : p.nslots;
    return (r & ((uint64_t{1} << p.shift) - 1)) == 0 ? r >> p.shift : p.nslots;
}

// Where each picked row's magnitudes below limit start in one array: start[s] .. start[s+1]-1
// for the row in slot s, in storage order within it; start[nslots] is the sink's.
static uint64_t* gathered_starts(const CscView& a, const uint64_t* row, const RowPick& p,
                                 uint64_t limit)
{
    const double* pr = a.pr;
    const uint64_t nnz = a.nnz, nslots = p.nslots;
    uint64_t* start = static_cast<uint64_t*>(take_scratch(nslots + 2, sizeof(uint64_t)));
    for (uint64_t k = 0; k < nnz; ++k) start[slot_of(p, row[k]) + 1] += magnitude_bits(pr[k]) < limit;
    start[nslots + 1] = 0;  // the sink keeps nothing
    for (uint64_t s = 0; s < nslots; ++s) start[s + 1] += start[s];
    start[nslots + 1] = start[nslots];
    return start;
}

// The sink's one element (values[start[nslots]]) is overwritten by every magnitude not kept.
static double* gather_rows(const CscView& a, const uint64_t* row, const RowPick& p,
                           const uint64_t* start, uint64_t limit)
{
    const double* pr = a.pr;
    const uint64_t nnz = a.nnz, nslots = p.nslots;
    double* values = static_cast<double*>(take_scratch(start[nslots] + 1, sizeof(double)));
    uint64_t* next = static_cast<uint64_t*>(take_scratch(nslots + 1, sizeof(uint64_t)));
    for (uint64_t s = 0; s <= nslots; ++s) next[s] = start[s];
    for (uint64_t k = 0; k < nnz; ++k) {
        const uint64_t bits = magnitude_bits(pr[k]);
        const uint64_t s = bits < limit ? slot_of(p, row[k]) : nslots;
        values[next[s]] = bits_to_double(bits);
        next[s] += s < nslots;
    }
    release_scratch(next);
    return values;
}

// The least limit of the picked rows, starting from limit.
static uint64_t limit_of_picked_rows(const CscView& a, const uint64_t* row, const RowPick& p,
                                     double tol, uint64_t limit, SparsestDrop* work)
{
    uint64_t* start = gathered_starts(a, row, p, limit);
    double* values = gather_rows(a, row, p, start, limit);
    work->entries_read += 2 * a.nnz;
    work->passes += 2;
    for (uint64_t s = 0; s < p.nslots; ++s)
        limit = group_limit(values + start[s], start[s + 1] - start[s], tol, limit, work);
    release_scratch(values);
    release_scratch(start);
    return limit;
}

static uint64_t sampled_limit(const CscView& a, const SummedRows& rows, double tol,
                              SparsestDrop* work)
{
    if ((rows.nrows >> SAMPLE_SHIFT) < SAMPLED_AT_LEAST) return limit_above(tol);
    const RowPick p = {SAMPLE_SHIFT, nullptr, nullptr, ((rows.nrows - 1) >> SAMPLE_SHIFT) + 1};
    return limit_of_picked_rows(a, rows.row, p, tol, limit_above(tol), work);
}

// The least limit of the rows whose sum below limit exceeds tol.
static uint64_t limit_of_rows_above(const CscView& a, const SummedRows& rows,
                                    const double* rowsum, double tol, uint64_t limit,
                                    SparsestDrop* work)
{
    uint64_t* marked = static_cast<uint64_t*>(take_scratch(rows.nrows / 64 + 1, sizeof(uint64_t)));
    uint64_t* slot = static_cast<uint64_t*>(take_scratch(rows.nrows, sizeof(uint64_t)));
    uint64_t nslots = 0;
    for (uint64_t i = 0; i < rows.nrows; ++i) {
        if (!(rowsum[i] > tol)) continue;
        marked[i >> 6] |= uint64_t{1} << (i & 63);
        slot[i] = nslots++;
    }
    const RowPick p = {0, marked, slot, nslots};
    if (nslots > 0) limit = limit_of_picked_rows(a, rows.row, p, tol, limit, work);
    release_scratch(slot);
    release_scratch(marked);
    return limit;
}

// The rows' sums below the sample's limit find the rows that exceed tol below it; where there
// are some, their limits lower it, and the sums are taken again below the final limit.
void drop_by_rows(const CscView& a, double tol, SparsestDrop* found)
{
    const SummedRows rows = rows_to_sum(a);
    if (rows.numbered != nullptr) found->entries_read += a.nnz;
    uint64_t limit = sampled_limit(a, rows, tol, found);
    double* rowsum = static_cast<double*>(take_scratch(rows.nrows, sizeof(double)));
    Below below = {0, 0};
    row_sums_below(a.pr, rows.row, a.nnz, rows.nrows, limit, rowsum, &below);
    found->entries_read += a.nnz;
    ++found->passes;
    const uint64_t lower = limit_of_rows_above(a, rows, rowsum, tol, limit, found);
    if (lower != limit) {
        for (uint64_t i = 0; i < rows.nrows; ++i) rowsum[i] = 0.0;
        below = {0, 0};
        row_sums_below(a.pr, rows.row, a.nnz, rows.nrows, lower, rowsum, &below);
        found->entries_read += a.nnz;
        ++found->passes;
    }
    set_below(below, found);
    found->dropped = largest_of(rowsum, rows.nrows);
    release_scratch(rowsum);
    release_rows(rows);
}
