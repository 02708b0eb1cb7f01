// The benchmark families do what they are named for: well-formed matrices of n stored entries,
// the infinity-norm form the 1-norm one turned around, and a search on each that runs the rounds
// its fault needs. Counts, never times.
#include "search_families.h"
#include "threshold_search.h"

#include "standin.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// "" when a holds a valid sparse matrix (offsets from 0 to nnz, rows ascending and in range).
std::string defect(const TestMatrix& a)
{
    if (a.jc.size() != a.ncols + 1 || a.jc[0] != 0 || a.jc.back() != a.pr.size() ||
        a.ir.size() != a.pr.size())
        return "array sizes";
    for (uint64_t j = 0; j < a.ncols; ++j) {
        if (a.jc[j + 1] < a.jc[j]) return "column offsets decrease";
        for (uint64_t k = a.jc[j]; k < a.jc[j + 1]; ++k) {
            if (a.ir[k] >= a.nrows) return "row out of range";
            if (k > a.jc[j] && a.ir[k] <= a.ir[k - 1]) return "rows not ascending";
            if (a.pr[k] == 0.0) return "stored zero";
        }
    }
    return "";
}

bool same(const TestMatrix& a, const TestMatrix& b)
{
    return a.nrows == b.nrows && a.ncols == b.ncols && a.jc == b.jc && a.ir == b.ir &&
           a.pr == b.pr;
}

SearchResult search(const FamilyCall& c)
{
    const CscView v{c.a.pr.data(), c.a.ir.data(), c.a.jc.data(), c.a.nrows, c.a.ncols, c.a.pr.size()};
    const double ratio = c.ratio == 0.0 ? 1.0 : c.ratio;
    auto* cand = static_cast<int32_t*>(mxCalloc(v.nnz, sizeof(int32_t)));
    return search_threshold(c.kind, v, c.tol, ratio, c.tol / ratio, cand);
}

}  // namespace

TEST(SearchFamilies, HoldNEntriesInWellFormedMatricesOfEitherKind)
{
    for (SearchFamily family : {FAMILY_IDLE, FAMILY_QUADRATIC, FAMILY_ROW_COUNT, FAMILY_RANDOM}) {
        for (uint64_t n : {13, 1000}) {
            SCOPED_TRACE(std::string(family_name(family)) + " n = " + std::to_string(n));
            const FamilyCall one = search_family(family, n, NORM_ONE);
            const FamilyCall inf = search_family(family, n, NORM_INF);
            EXPECT_EQ(defect(one.a), "");
            EXPECT_EQ(defect(inf.a), "");
            EXPECT_EQ(one.kind, NORM_ONE);
            EXPECT_EQ(inf.kind, NORM_INF);
            if (family == FAMILY_RANDOM) {
                const double count = static_cast<double>(n);  // about, within 5 standard deviations
                EXPECT_NEAR(static_cast<double>(one.a.pr.size()), count, 5.0 * std::sqrt(count));
                EXPECT_EQ(inf.tol, 1e-1 * kind_norm(inf.a, NORM_INF));
                continue;
            }
            EXPECT_EQ(one.a.pr.size(), n);
            EXPECT_EQ(inf.a.pr.size(), n);
            if (family == FAMILY_ROW_COUNT) {
                EXPECT_GE(inf.a.nrows, ROW_COUNT_ROW_SPREAD * n);
                EXPECT_GE(one.a.ncols, ROW_COUNT_COL_SPREAD * n);
                // The same groups in the same order: the row sums equal the column sums.
                EXPECT_EQ(kind_norm(inf.a, NORM_INF), kind_norm(one.a, NORM_ONE));
            } else {
                EXPECT_TRUE(same(inf.a, transposed(one.a)));
            }
        }
    }
}

TEST(SearchFamilies, IdleFamilyIsTheFourByRMatrixWithItsCall)
{
    const double c = 0x1.0000000000003p-2;  // 0.25 + 3 * 2^-54
    const FamilyCall f = idle_family(7, NORM_ONE);
    EXPECT_EQ(f.a.nrows, 4u);
    EXPECT_EQ(f.a.ncols, 4u);
    EXPECT_EQ(f.a.jc, (std::vector<uint64_t>{0, 4, 5, 6, 7}));
    EXPECT_EQ(f.a.ir, (std::vector<uint64_t>{0, 1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(f.a.pr, (std::vector<double>{c, c, c, c, 0.5, 0.5 * (1 - 1e-8), 0.5 * (1 - 2e-8)}));
    EXPECT_EQ(f.tol, 1.0);
    EXPECT_EQ(f.ratio, 2.0);
}

// Removing entries outside column (row) 0 never lowers the dropped norm, and the first gap
// between two of them would take far more rounds than the search may spend idle: it spends its
// whole budget, 1024 and one per stored entry, and then a round per single.
TEST(SearchFamilies, IdleFamilySpendsTheWholeIdleBudget)
{
    for (NormKind kind : {NORM_ONE, NORM_INF}) {
        const SearchResult r = search(idle_family(7, kind));
        EXPECT_EQ(r.idle_rounds, 1024u + 7u);
        EXPECT_GT(r.rounds, r.idle_rounds + 2);
        EXPECT_EQ(r.end, END_WITHIN_TOL);
    }
}

// Every threshold up to the last lies above the entries of column 0 and the last one below them,
// up to a million entries and beyond.
TEST(SearchFamilies, QuadraticThresholdsFallByOneEntryPerRoundUpToTheLast)
{
    const double v = (1.0 + QUADRATIC_D) / static_cast<double>(QUADRATIC_K);
    const double sum = static_cast<double>(QUADRATIC_K) * v;  // exact: K is a power of two
    for (uint64_t n : {10000, 1000000, 5000000}) {
        SCOPED_TRACE(n);
        const uint64_t m = n - QUADRATIC_K;
        const std::vector<double> t = quadratic_thresholds(1.0, sum, quadratic_ratio(1.0, v, sum, m), m);
        EXPECT_LT(t[0], 1.0);
        bool falling = true;
        for (uint64_t i = 1; i < m; ++i) falling = falling && t[i] < t[i - 1];
        EXPECT_TRUE(falling);
        EXPECT_GT(t[m - 1], v);
        EXPECT_LT(1.0 / (sum / t[m - 1]), v);
    }
}

// One round per entry outside column 0, none of them idle, the last removing column 0 too: the
// norm ends at 0.
TEST(SearchFamilies, QuadraticFamilyTakesOneRoundPerEntry)
{
    for (NormKind kind : {NORM_ONE, NORM_INF}) {
        const uint64_t n = 1000;
        const SearchResult r = search(quadratic_family(n, kind));
        EXPECT_EQ(r.rounds, n - QUADRATIC_K);
        EXPECT_EQ(r.idle_rounds, 0u);
        EXPECT_EQ(r.end, END_WITHIN_TOL);
        EXPECT_EQ(r.ncand + r.nbelow, 0u);
    }
}

TEST(SearchFamilies, RowCountFamilyTakesSeveralRoundsTheSameForBothKinds)
{
    const SearchResult one = search(row_count_family(1000, NORM_ONE));
    const SearchResult inf = search(row_count_family(1000, NORM_INF));
    EXPECT_GE(one.rounds, 5u);
    EXPECT_EQ(inf.rounds, one.rounds);
    EXPECT_EQ(inf.threshold, one.threshold);
    EXPECT_EQ(inf.ratio, one.ratio);
}
