// What the benchmarks stand on, checked without timing anything: every limit touches every byte
// it is meant to (no step or tail left out, nothing written past its end), the short-column
// matrices have the shape they are named for, and the peers read our arrays the right way round.
#include "bench_floors.h"
#include "bench_matrices.h"
#include "bench_peers.h"

#include "norm_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Sizes around the 128-byte step and the 8-byte word, and starts off any alignment.
const size_t SIZES[] = {0, 1, 7, 8, 9, 127, 128, 129, 136, 255, 256, 4096 + 24 + 5};
const size_t OFFSETS[] = {0, 1, 8, 13};

std::vector<unsigned char> pseudo_random_bytes(size_t n)
{
    std::vector<unsigned char> bytes(n);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (unsigned char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<unsigned char>(x >> 56);
    }
    return bytes;
}

// Every whole 8-byte word from the start, then each remaining byte, folded with exclusive or.
uint64_t slow_fold(const unsigned char* p, size_t nbytes)
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

// Every offset and size through one read way, against the slow fold.
void expect_read_way_folds_every_byte(ReadWay way)
{
    const std::vector<unsigned char> bytes = pseudo_random_bytes(5000);
    for (size_t off : OFFSETS) {
        for (size_t n : SIZES) {
            SCOPED_TRACE(std::string(read_way_name(way)) + " offset " + std::to_string(off) +
                         " size " + std::to_string(n));
            EXPECT_EQ(read_bytes(way, bytes.data() + off, n), slow_fold(bytes.data() + off, n));
        }
    }
}

// Every offset and size through one copy way: the bytes arrive, and none around them changes.
void expect_copy_way_copies_exactly(CopyWay way)
{
    const std::vector<unsigned char> from = pseudo_random_bytes(5000);
    for (size_t off : OFFSETS) {
        for (size_t n : SIZES) {
            SCOPED_TRACE(std::string(copy_way_name(way)) + " offset " + std::to_string(off) +
                         " size " + std::to_string(n));
            std::vector<unsigned char> to(n + 64, 0xAB);
            copy_bytes(way, to.data() + off, from.data() + 3, n);
            EXPECT_EQ(std::memcmp(to.data() + off, from.data() + 3, n), 0);
            for (size_t b = 0; b < to.size(); ++b) {
                if (b < off || b >= off + n) {
                    ASSERT_EQ(to[b], 0xAB) << "byte " << b;
                }
            }
        }
    }
}

// The ways every build has run on every machine; a way that needs more of the CPU or the
// compiler is a test of its own, reported as skipped (with the reason) where it cannot run.
TEST(ReadLimit, PlainWaysFoldEveryByte)
{
    for (ReadWay way : {READ_STREAM, READ_PREFETCH}) {
        ASSERT_TRUE(read_way_available(way)) << read_way_name(way);
        expect_read_way_folds_every_byte(way);
    }
}

TEST(ReadLimit, Avx2WayFoldsEveryByte)
{
    if (!read_way_available(READ_WIDE)) GTEST_SKIP() << "this CPU has no AVX2";
    expect_read_way_folds_every_byte(READ_WIDE);
}

TEST(CopyLimit, MemcpyWayCopiesExactlyItsBytes)
{
    ASSERT_TRUE(copy_way_available(COPY_MEMCPY));
    expect_copy_way_copies_exactly(COPY_MEMCPY);
}

TEST(CopyLimit, StreamingWayCopiesExactlyItsBytes)
{
    if (!copy_way_available(COPY_STREAM)) GTEST_SKIP() << "built for a target without SSE2";
    expect_copy_way_copies_exactly(COPY_STREAM);
}

TEST(DropLimit, WritesTheKeptPrefixAndReadsTheRest)
{
    const double pr[] = {1.5, -2.0, 3.25, 4.0, -5.5};
    const uint64_t ir[] = {7, 1, 9, 2, 4};
    const uint64_t KEPT[] = {0, 2, 5};
    for (uint64_t nkept : KEPT) {
        double pr_out[6] = {0, 0, 0, 0, 0, 0};
        uint64_t ir_out[6] = {0, 0, 0, 0, 0, 0};
        const uint64_t fold =
            read_all_write_kept(READ_STREAM, COPY_MEMCPY, pr, ir, 5, nkept, pr_out, ir_out);
        for (uint64_t k = 0; k < 6; ++k) {
            EXPECT_EQ(pr_out[k], k < nkept ? pr[k] : 0.0) << "nkept " << nkept << ", k " << k;
            EXPECT_EQ(ir_out[k], k < nkept ? ir[k] : 0u) << "nkept " << nkept << ", k " << k;
        }
        const auto* pr_bytes = reinterpret_cast<const unsigned char*>(pr + nkept);
        const auto* ir_bytes = reinterpret_cast<const unsigned char*>(ir + nkept);
        EXPECT_EQ(fold, slow_fold(pr_bytes, 8 * (5 - nkept)) ^ slow_fold(ir_bytes, 8 * (5 - nkept)));
    }
}

TEST(AddChain, AddsExactlyNnzValuesInOrder)
{
    // 1e16 + 1 is not a double: only the order written below gives these bits.
    const double pr[] = {1e16, 1.0, -1e16};
    EXPECT_EQ(add_chain(pr, 3, 3), ((1e16 + 1.0) + -1e16));
    EXPECT_EQ(add_chain(pr, 3, 7), (((((1e16 + 1.0) + -1e16) + 1e16) + 1.0) + -1e16) + 1e16);
    EXPECT_EQ(add_chain(pr, 1, 4), 4e16);
    EXPECT_EQ(add_chain(pr, 3, 0), 0.0);
}

// M4 (1e7 entries, about a second to build); M5 comes from the same generator with more rows.
TEST(BenchMatrices, ShortColumnShapeHoldsTenSortedRowsInEveryColumn)
{
    const CscView& v = bench_matrix(M4).view;
    EXPECT_EQ(v.nrows, 1000u);
    EXPECT_EQ(v.ncols, 1000000u);
    ASSERT_EQ(v.nnz, 10 * v.ncols);
    for (uint64_t j = 0; j < v.ncols; ++j) {
        ASSERT_EQ(v.jc[j + 1] - v.jc[j], 10u) << "column " << j;
        for (uint64_t k = v.jc[j]; k < v.jc[j + 1]; ++k) {
            ASSERT_LT(v.ir[k], v.nrows) << "column " << j;
            if (k > v.jc[j]) {
                ASSERT_GT(v.ir[k], v.ir[k - 1]) << "column " << j;
            }
        }
    }
}

#if defined(BENCH_WITH_CXSPARSE) || defined(BENCH_WITH_EIGEN)
// 3 x 4, one empty column; whole values, so that every order of addition gives the same sums.
// Column sums 8, 0, 7, 4 and row sums 5, 9, 5 tell rows and columns apart.
const double PEER_PR[] = {-1.0, 5.0, 2.0, -4.0, 3.0, 4.0};
const uint64_t PEER_IR[] = {0, 1, 2, 1, 2, 0};
const uint64_t PEER_JC[] = {0, 3, 3, 5, 6};
const CscView PEER_MATRIX = {PEER_PR, PEER_IR, PEER_JC, 3, 4, 6};
#endif

// The peers are optional: a build without one reports its check as skipped, with the reason.
TEST(Peers, CxsparseReadsOurColumns)
{
#ifdef BENCH_WITH_CXSPARSE
    EXPECT_EQ(cxsparse_one_norm(PEER_MATRIX), 8.0);
    EXPECT_EQ(cxsparse_one_norm(PEER_MATRIX), one_norm(PEER_PR, PEER_JC, 4));
#else
    GTEST_SKIP() << "built without CXSparse (apt-get install libsuitesparse-dev)";
#endif
}

TEST(Peers, EigenReadsOurColumnsAndRows)
{
#ifdef BENCH_WITH_EIGEN
    double rowsum[3] = {0.0, 0.0, 0.0};
    EXPECT_EQ(eigen_one_norm(PEER_MATRIX), 8.0);
    EXPECT_EQ(eigen_inf_norm(PEER_MATRIX), 9.0);
    EXPECT_EQ(eigen_inf_norm(PEER_MATRIX), inf_norm(PEER_PR, PEER_IR, 6, 3, rowsum));
    EXPECT_EQ(eigen_frobenius_norm(PEER_MATRIX), std::sqrt(71.0));
    EXPECT_EQ(eigen_frobenius_norm(PEER_MATRIX), frobenius_norm(PEER_PR, 6));
#else
    GTEST_SKIP() << "built without Eigen (apt-get install libeigen3-dev)";
#endif
}

}  // namespace
