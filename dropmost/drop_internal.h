// The parts of the sparsest drop: magnitudes as integers, the bounds that decide most thresholds
// without an exact sum, the histograms that find where a sum crosses tol, the ladder of
// candidate thresholds settled by exact sums, and the limits of columns, rows and the whole
// matrix. Shared by the drop's own files and its tests.
//
// How the threshold is found. The dropped norm at threshold t never falls as t rises (each sum
// adds nonnegative terms in a fixed order, rounded to nearest), so the answer is the largest
// candidate below the first magnitude whose dropped part exceeds tol: its limit. Sums taken in
// another order than storage order differ from the exact ones by a proven bound, so
//   - one pass puts the magnitudes into buckets by their leading bits, with what each bucket
//     adds to the sum; the running total over the buckets brackets the crossing within one or
//     two buckets (a second, finer level when those still hold many entries);
//   - the magnitudes in that window are sorted, and the running total over them decides every
//     candidate but the few whose total lies within the bound of tol;
//   - those are settled by exact sums in storage order, by bisection.
// The 1- and infinity norms take the largest column or row sum: each column or row limits the
// threshold on its own, one whose whole sum fits limits nothing, and the limit of the matrix is
// the least of theirs. Only the columns or rows whose sum below the least limit found so far
// exceeds tol are worked out, and a sample of them is worked out first.
#pragma once

#include "csc_view.h"
#include "sparsest_drop.h"

#include <cstdint>
#include <cstring>

// For doubles of either sign cleared, the bit patterns order as the magnitudes do, so a limit
// is an integer and a bucket a range of integers. NaN magnitudes lie above INF_BITS.
constexpr uint64_t INF_BITS = 0x7FF0000000000000;
// Above every magnitude but at or below every NaN's: a limit that holds nothing back.
constexpr uint64_t NO_LIMIT = INF_BITS + 1;

inline uint64_t magnitude_bits(double x)
{
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits & ~(uint64_t{1} << 63);
}

inline double bits_to_double(uint64_t bits)
{
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// No magnitude above tol is ever dropped: a sum holding it is at least that magnitude (the
// Frobenius norm of a part holding a is at least a: the root of a rounded square of a normal
// number is that number, and where a's square would be subnormal a larger value of the part
// outweighs it). So every limit starts just above tol.
inline uint64_t limit_above(double tol)
{
    return magnitude_bits(tol) + 1;
}


// ---------------------------------------------------------------------------------------------
// Bounds. Approximate sums are kept relative to tol: each term is scaled by a power of two that
// brings tol into [1, 2), so no approximate sum of squares overflows or loses the terms that
// matter to underflow.
struct Scale {
    int tol_exponent;     // ilogb(tol)
    bool squares;         // the Frobenius norm: the terms are squares
    double fit_below;     // a scaled sum surely fits at or below this, less its margin
    double exceed_above;  // and surely exceeds above this, less its margin: both about tol
                          // times 2^-tol_exponent (squared for the Frobenius norm), in [1, 4)
    double margin;        // relative bound on the gap between an approximate and the exact sum
    // 2^-tol_exponent as two factors, each a normal double: a product by them is exact for the
    // magnitudes at or below tol, as ldexp would be, at the cost of two multiplications.
    double unscale_high;
    double unscale_low;
};

// For tol > 0 finite, over sums of at most nterms terms.
Scale scale_for(double tol, bool squares, uint64_t nterms);

// The term of magnitude a, scaled.
double scaled_term(double a, const Scale& s);

// Whether the exact measure of a part whose scaled approximate sum is q is surely within tol,
// or surely above it. Neither holds for a q within the margin of the target.
bool surely_fits(double q, const Scale& s);
bool surely_exceeds(double q, const Scale& s);

// ---------------------------------------------------------------------------------------------
// Windows. The magnitudes of values[0 .. n-1] whose bits lie in [lo, hi) are the candidates;
// base is the scaled approximate sum of every term below lo.
struct Window {
    uint64_t lo;
    uint64_t hi;     // exclusive
    double base;
    uint64_t count;  // candidates in [lo, hi)
};

// A window of more than SORT_AT_MOST magnitudes is narrowed again, by a histogram of finer
// buckets, before its magnitudes are sorted. Where the last level still leaves many in a span of
// at most FEWEST_PATTERNS_COUNTED bit patterns (ties, or values an ulp or two apart), they are
// sorted by counting each pattern, in a pass or two however many there are.
constexpr uint64_t SORT_AT_MOST = 256;
constexpr uint64_t FEWEST_PATTERNS_COUNTED = uint64_t{1} << 13;

// Narrows w to the buckets where the running sum, ascending, stops surely fitting and up to the
// first where it surely exceeds (or the end of w). Every candidate below the result surely fits
// and every one above it surely exceeds. An empty result (count 0) means every candidate of w
// surely fits. Takes the histogram from the host and releases it.
Window narrow_window(const double* values, uint64_t n, const Window& w, const Scale& s,
                     SparsestDrop* work);

// The candidates of the window where the running sum of the magnitudes of values[0 .. n-1] in
// [w.lo, w.hi) crosses tol (w.count bounds how many lie there), sorted ascending: w is narrowed
// level by level while it holds more than SORT_AT_MOST of them and a level can still split it.
// bits comes from the host; the caller releases it.
struct Candidates {
    uint64_t* bits;
    uint64_t n;
    Window window;  // the last window: base sums every term below window.lo
};
Candidates window_candidates(const double* values, uint64_t n, Window w, const Scale& s,
                             SparsestDrop* work);

// Writes the bits of the magnitudes of values[0 .. n-1] that lie in [lo, hi) to out (room for
// all of them), in position order; returns how many.
uint64_t gather_bits(const double* values, uint64_t n, uint64_t lo, uint64_t hi, uint64_t* out);

// The least magnitude bits of values[0 .. n-1] in [lo, hi), or hi when there is none.
uint64_t least_bits_in(const double* values, uint64_t n, uint64_t lo, uint64_t hi);

// ---------------------------------------------------------------------------------------------
// The ladder: distinct candidate magnitudes in ascending order, each with the scaled approximate
// sum of every term at or below it.
struct Ladder {
    uint64_t* bits;  // ascending, distinct
    double* sum;
    uint64_t n;
};

// Builds the ladder in place over bits[0 .. n-1] (sorted ascending, duplicates allowed): the
// distinct ones move to the front. sum needs room for n.
Ladder climb(uint64_t* bits, double* sum, uint64_t n, double base, const Scale& s);

// The exact test of one candidate: whether the part at or below it, summed in storage order,
// is within tol. context is the caller's; the test counts the entries it reads there.
struct ExactTest {
    bool (*fits)(void* context, uint64_t bits);
    void* context;
};

// The first rung of the ladder whose part exceeds tol, or ladder.n when none does, for a measure
// that never falls as the threshold rises: the bounds decide all rungs but a run of close ones,
// which bisection settles with exact tests.
uint64_t first_failing_rung(const Ladder& ladder, const Scale& s, const ExactTest& exact,
                            SparsestDrop* work);

// The same where the measure may fall by a rounding error when its form changes: the first
// rung whose part exceeds tol, every rung before it fitting. The measure never falls within a
// run of rungs of one binade and one form; form(context, bits) numbers the forms in the order
// they come as the threshold rises.
struct FormOf {
    int (*form)(void* context, uint64_t bits);
    void* context;
};
uint64_t first_failing_rung_by_pieces(const Ladder& ladder, const Scale& s,
                                      const ExactTest& exact, const FormOf& form,
                                      SparsestDrop* work);

// The rungs from first to last that the bounds cannot decide: [*first, *last).
void close_rungs(const Ladder& ladder, const Scale& s, uint64_t* first, uint64_t* last);

// ---------------------------------------------------------------------------------------------
// Limits: the least magnitude whose dropped part exceeds tol, as bits, or the given limit.

// One column or row: its magnitudes in storage order, values[0 .. n-1] (no NaN). Returns limit
// when the sum of those below limit is within tol, else the least magnitude below limit at which
// the sum of the values at or below it exceeds tol.
uint64_t group_limit(const double* values, uint64_t n, double tol, uint64_t limit,
                     SparsestDrop* work);

// The same for a group whose sum below limit is known to exceed tol.
uint64_t exceeding_group_limit(const double* values, uint64_t n, double tol, uint64_t limit,
                               SparsestDrop* work);

// The 1-norm works out every (ncols / SAMPLED_COLUMNS)-th column first, where that is 2 or more:
// their least limit is near the least of all in most matrices, so few of the other columns
// still exceed tol below it.
constexpr uint64_t SAMPLED_COLUMNS = 1024;

// What lies below a limit: the bits of the largest magnitude (0 when none) and how many.
struct Below {
    uint64_t largest;
    uint64_t count;
};

// Adds the magnitudes of values[0 .. n-1] whose bits are below limit to below; returns their
// sum in storage order.
double sum_below(const double* values, uint64_t n, uint64_t limit, Below* below);

// Storage-order sum of the magnitudes of values[0 .. n-1] whose bits are below limit.
double sum_below(const double* values, uint64_t n, uint64_t limit);

// Adds each magnitude of pr[0 .. nnz-1] whose bits are below limit to rowsum[row[k]] (nrows
// sums), in storage order, and to below.
void row_sums_below(const double* pr, const uint64_t* row, uint64_t nnz, uint64_t nrows,
                    uint64_t limit, double* rowsum, Below* below);

// The sparsest drop of each kind, for tol > 0 finite and at least one stored entry: fills the
// threshold, the dropped count and norm, and the work.
void drop_by_columns(const CscView& a, double tol, SparsestDrop* found);
void drop_by_rows(const CscView& a, double tol, SparsestDrop* found);
void drop_by_frobenius(const CscView& a, double tol, SparsestDrop* found);

// The threshold and count of what lies below.
void set_below(const Below& below, SparsestDrop* found);

// Zero-filled scratch from the host, released with release_scratch.
void* take_scratch(uint64_t count, size_t size);
void release_scratch(void* block);
