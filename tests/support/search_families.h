// Matrices that drive dropsmall's threshold search to its worst cases, each with the call that
// does it, beside a random matrix of the same size to compare against. n is the number of
// stored entries; every family comes for the 1-norm and, transposed, for the infinity norm.
// bench/search_families.m builds the same matrices in GNU Octave with the same bits (the random
// one excepted: there Octave's own generator draws the same shape and value distribution).
#pragma once

#include "csc_view.h"
#include "random_csc.h"

#include <cstdint>
#include <vector>

// A matrix and the arguments that go with it: dropsmall(a, tol, kind, ratio).
struct FamilyCall {
    TestMatrix a;
    double tol;
    NormKind kind;  // NORM_ONE or NORM_INF
    double ratio;   // as dropsmall takes it: 0 starts cold
};

enum SearchFamily { FAMILY_IDLE, FAMILY_QUADRATIC, FAMILY_ROW_COUNT, FAMILY_RANDOM };

// "idle", "quadratic", "rowcount", "random".
const char* family_name(SearchFamily family);

// The family's call for n stored entries and kind NORM_ONE or NORM_INF.
FamilyCall search_family(SearchFamily family, uint64_t n, NormKind kind);

// Idle rounds. Column 0 holds four entries c = 0.25 + 3 * 2^-54, whose sum 4c sits three ulps
// above tol = 1; columns 1 .. n-4 hold one entry each in row 0, t(j) = 0.5 * (1 - j * 1e-8)
// for j = 0 .. n-5. Called with tol 1 and ratio 2: removing the t's never lowers the dropped
// norm, and each gap between two of them takes a long run of rounds that remove nothing.
// 4 x (n - 3); needs n >= 5.
FamilyCall idle_family(uint64_t n, NormKind kind);

// Quadratic rounds. Column 0 holds QUADRATIC_K entries v = (1 + QUADRATIC_D) / QUADRATIC_K whose
// sum S, added in storage order, sits just above tol = 1. Column j >= 1 holds one entry in row
// 0, exactly the threshold T(j - 1) that the search reaches after j - 1 rounds from
// T(0) = tol / ratio: T(i + 1) = tol / (S / T(i)), as the search computes it. Every round then
// removes exactly one entry and keeps all the others; the ratio puts v between the last two
// thresholds, so the last round removes column 0 as well and no round is idle.
// K x (n - K + 1); needs K < n < K + 5.8e6 (beyond that T(0) would pass tol).
FamilyCall quadratic_family(uint64_t n, NormKind kind);
constexpr uint64_t QUADRATIC_K = 4;
constexpr double QUADRATIC_D = 0x1p-22;
// tol / (v S^m / sqrt(S)) for m = n - K single entries, S^m by binary powering.
double quadratic_ratio(double tol, double v, double sum, uint64_t m);
// T(0) .. T(m - 1) as described above.
std::vector<double> quadratic_thresholds(double tol, double sum, double ratio, uint64_t m);

// Row count. Groups of ROW_COUNT_GROUP entries share a row (infinity norm) or a column (1-norm);
// group r sits in row (or column) r * spread * ROW_COUNT_GROUP, with spread ROW_COUNT_ROW_SPREAD
// rows or ROW_COUNT_COL_SPREAD columns per stored entry, all others empty. Entry e (0-based, in
// group e / GROUP) has the magnitude (1 + h % 16 / 16) * 2^-(h / 16 % 20) with h the hash
// e * 2654435761 mod 2^32, negative when bit 9 of h is set. Cold start at tol = ROW_COUNT_TOL:
// six rounds, five of them scanning, from 1e4 entries up (seven at 1e3). Both kinds sum the
// same groups in the same order, so their searches take the same rounds.
FamilyCall row_count_family(uint64_t n, NormKind kind);
constexpr uint64_t ROW_COUNT_GROUP = 8;
constexpr uint64_t ROW_COUNT_ROW_SPREAD = 1000;
constexpr uint64_t ROW_COUNT_COL_SPREAD = 10;
constexpr double ROW_COUNT_TOL = 2.0;
// The value of entry e as described above.
double row_count_value(uint64_t e);

// The reference: random_matrix of random_csc.h, square, density RANDOM_DENSITY, about n
// entries of ordinary values spread over 20 binades (fixed seed). Cold start at tol = 1e-1 of
// the kind's norm.
FamilyCall random_family(uint64_t n, NormKind kind);
constexpr double RANDOM_DENSITY = 0.1;

// The transpose, its row indices ascending within each column.
TestMatrix transposed(const TestMatrix& a);

// Largest column sum of magnitudes (1-norm) or row sum (infinity norm), added in storage order;
// holds one double per column or row.
double kind_norm(const TestMatrix& a, NormKind kind);
