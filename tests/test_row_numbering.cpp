// The numbering of occupied rows against a plain one (sort the distinct rows, look each up), on
// rows spread over 2^50 and 2^64, rows that share their high digits or all but one digit, many
// entries to a row, and sizes on both sides of every way the sort takes.
#include "row_numbering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<uint64_t> plain_numbering(const std::vector<uint64_t>& ir)
{
    std::vector<uint64_t> rows = ir;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<uint64_t> numbers;
    for (uint64_t i : ir) {
        const auto at = std::lower_bound(rows.begin(), rows.end(), i);
        numbers.push_back(static_cast<uint64_t>(at - rows.begin()));
    }
    return numbers;
}

// Scratch of exactly nnz words, so that the sanitizers see any step past it or the result.
uint64_t numbered(const std::vector<uint64_t>& ir, std::vector<uint64_t>* row_of)
{
    const uint64_t nnz = ir.size();
    row_of->assign(nnz, ~uint64_t{0});
    std::vector<uint64_t> words(nnz, 0);
    return number_occupied_rows(ir.data(), nnz, row_of->data(), words.data());
}

enum Spread {
    UNIFORM_2_50,     // anywhere below 2^50
    COLUMNS_2_50,     // the same in sorted runs, as the columns of a matrix hold them
    HIGH_SHARED,      // 2^50 + 2^40 + a few bits of their own
    ONE_DIGIT,        // all bits shared but four in the middle
    FEW_ROWS,         // eight rows, many entries each
    ENDS_OF_2_64,     // near 0 and near 2^64 - 1
    UNIFORM_2_64,     // anywhere below 2^64 - 1
    ABOVE_2_63,       // 2^63 and up, spread over 2^60
};

std::vector<uint64_t> rows_of(Spread spread, uint64_t nnz, std::mt19937_64& rng)
{
    const uint64_t base = (uint64_t{1} << 50) + (uint64_t{1} << 40);
    std::vector<uint64_t> ir(nnz);
    for (uint64_t& i : ir) {
        const uint64_t r = rng();
        switch (spread) {
        case UNIFORM_2_50:
        case COLUMNS_2_50: i = r >> 14; break;
        case HIGH_SHARED: i = base + (r >> (64 - 1 - r % 23)); break;
        case ONE_DIGIT: i = base + ((r & 15) << 25); break;
        case FEW_ROWS: i = base + (r & 7) * 1000003; break;
        case ENDS_OF_2_64: i = r % 2 ? r % 5000 : ~uint64_t{0} - 1 - r % 5000; break;
        case UNIFORM_2_64: i = r == ~uint64_t{0} ? 0 : r; break;
        case ABOVE_2_63: i = (uint64_t{1} << 63) + (r >> 4); break;
        }
    }
    if (spread == COLUMNS_2_50) {
        for (uint64_t k = 0; k < nnz; k += 100) {
            const auto first = ir.begin() + static_cast<long>(k);
            std::sort(first, first + static_cast<long>(std::min<uint64_t>(100, nnz - k)));
        }
    }
    return ir;
}

}  // namespace

TEST(RowNumbering, MatchesThePlainNumbering)
{
    std::mt19937_64 rng(2050);
    const Spread spreads[] = {UNIFORM_2_50, COLUMNS_2_50, HIGH_SHARED, ONE_DIGIT,
                              FEW_ROWS,     ENDS_OF_2_64, UNIFORM_2_64, ABOVE_2_63};
    // Insertion and digit passes within one bucket, buckets by the top digit, a top digit the
    // position bits make wider, and rows too far apart for a word.
    const uint64_t sizes[] = {1, 2, 3, 31, 32, 33, 34, 500, 2047, 4095, 4096, 20000, 70000};
    for (Spread spread : spreads) {
        for (uint64_t nnz : sizes) {
            SCOPED_TRACE(testing::Message() << "spread " << spread << " nnz " << nnz);
            const std::vector<uint64_t> ir = rows_of(spread, nnz, rng);
            const std::vector<uint64_t> want = plain_numbering(ir);
            std::vector<uint64_t> row_of;
            const uint64_t rows = numbered(ir, &row_of);
            EXPECT_EQ(row_of, want);
            EXPECT_EQ(rows, *std::max_element(want.begin(), want.end()) + 1);
        }
    }
}

TEST(RowNumbering, SmallCases)
{
    struct Case {
        std::vector<uint64_t> ir;
        std::vector<uint64_t> row_of;
        uint64_t rows;
    };
    const uint64_t top = ~uint64_t{0} - 1;  // the largest row a matrix can have
    const uint64_t far = uint64_t{1} << 50;
    const Case cases[] = {
        {{7}, {0}, 1},
        {{5, 5, 5}, {0, 0, 0}, 1},
        {{top, 0, top, 1}, {2, 0, 2, 1}, 3},
        {{far, 3, far, 2}, {2, 1, 2, 0}, 3},
    };
    for (const Case& c : cases) {
        std::vector<uint64_t> row_of;
        EXPECT_EQ(numbered(c.ir, &row_of), c.rows);
        EXPECT_EQ(row_of, c.row_of);
    }
    EXPECT_EQ(number_occupied_rows(nullptr, 0, nullptr, nullptr), 0u);
}
