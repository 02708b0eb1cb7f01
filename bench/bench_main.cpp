// Benchmarks of the norm kernels, dropsmall and dropmost on the fixed matrix set
// (bench_matrices.h), beside the limits of bench_floors.h, the plain loops of bench_plain_loops.h
// and, where they were found at configure, the same norms by CXSparse and Eigen (bench_peers.h);
// then dropmost and dropsmall's search on the matrices of bench_families.h. Every benchmark
// reports ns_per_entry (time per stored entry); the norms and dropsmall also vs_limit (their time
// over their limit's median on the same matrix) and vs_plain (over the plain loop's).
//
//   limit/read/<arrays>/<way>/<M>    reading pr, pr and jc, or pr and ir once, in one of the ways
//                                    of bench_floors.h; a read limit is the fastest way's median
//   limit/add_chain/<M>              nnz dependent additions (values in the first-level cache)
//   limit/copy/<way>/<M>             copying pr and ir, in one of the ways of bench_floors.h
//   limit/drop/<case>/<M>            reading pr and ir once and writing the kept entries once,
//                                    each the fastest way on the matrix
//   plain/<loop>/<M>                 the plain loops
//   kernel/<kind>/<M>                a norm kernel over plain arrays (scratch from the stand-in)
//   peer/<library>/<kind>/<M>        the same norm by cxsparse or eigen, over the same arrays
//   spgauge/<kind>/<M>               spgauge's mexFunction called as a host calls it (stand-in)
//   search/<case>/<M>                search_threshold, its candidate list already touched
//   copy/<case>/<M>                  the filtered copy into already touched arrays
//   alloc/<case>/<M>                 the host creating B with that capacity, first touch, release
//   dropsmall/<case>/<M>             dropsmall's mexFunction, end to end (stand-in host)
//   rows/number/hypersparse/<n>      number_occupied_rows alone on a 2^50 x 100 matrix of n
//                                    entries, nearly every one in a row of its own
//   rows/spgauge_inf/<shape>/<n>     spgauge(A, 'inf') as a host calls it on that matrix
//                                    (hypersparse: rows numbered first), or on one of n / 10
//                                    rows (dense: as many entries, every row summed)
//   sparsest/<kind>_<tol>/<M>        find_sparsest_drop (scratch from the stand-in)
//   dropmost/<kind>_<tol>/<M>        dropmost's mexFunction, end to end (stand-in host)
//
// A norm's limit: 'one' reads pr and jc, 'inf' pr and ir, 'fro' pr; for 'fro' the larger of that
// read and add_chain, since its sum is one dependent chain. A dropsmall case's limit is
// limit/drop, its plain reference the plain sum of squares plus the plain copy. <case> is
// <kind>_<tol>_<cold|warm>, tol being 1e-6, 1e-3 or 1e-1 of the kind's norm; a warm start passes
// the ratio that the cold call returned. sparsest/ reports vs_search (over the cold search's
// median on the same case), vs_read (over the read limit of the arrays its kind reads: the
// norm's read limit, without the add chain), its work and the share of entries it and the cold
// search drop; dropmost/ reports vs_dropsmall (over the cold dropsmall call's median).
#include "bench_families.h"
#include "bench_floors.h"
#include "bench_matrices.h"
#include "bench_peers.h"
#include "bench_plain_loops.h"
#include "bench_registry.h"

#include "norm_kernels.h"
#include "row_numbering.h"
#include "assemble_filtered.h"
#include "copy_kept.h"
#include "sparsest_drop.h"
#include "threshold_search.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>


namespace {

const MatrixId ALL_MATRICES[] = {M1, M2, M3, M3T, M4, M5};

void report_ratios(benchmark::State& st, double ns, double limit, double plain)
{
    report_ratio(st, "vs_limit", ns, limit);
    report_ratio(st, "vs_plain", ns, plain);
}

// ---------------------------------------------------------------------------------------------
// Limits and plain loops

enum ReadSet { READ_PR, READ_PR_JC, READ_PR_IR };
const ReadSet ALL_READ_SETS[] = {READ_PR, READ_PR_JC, READ_PR_IR};

const char* read_set_name(ReadSet set)
{
    return set == READ_PR ? "pr" : set == READ_PR_JC ? "pr_jc" : "pr_ir";
}

std::string read_limit_name(ReadSet set, ReadWay way, MatrixId m)
{
    return std::string("limit/read/") + read_set_name(set) + "/" + read_way_name(way) + "/" +
           matrix_name(m);
}

uint64_t read_arrays(ReadWay way, ReadSet set, const CscView& v)
{
    uint64_t fold = read_bytes(way, v.pr, v.nnz * sizeof(double));
    if (set == READ_PR_JC) fold ^= read_bytes(way, v.jc, (v.ncols + 1) * sizeof(uint64_t));
    if (set == READ_PR_IR) fold ^= read_bytes(way, v.ir, v.nnz * sizeof(uint64_t));
    return fold;
}

// The way that read the set fastest on m so far (READ_STREAM before any has run).
ReadWay fastest_way(ReadSet set, MatrixId m)
{
    ReadWay best = READ_STREAM;
    double best_ns = 0.0;
    for (int w = 0; w < READ_WAY_COUNT; ++w) {
        const ReadWay way = static_cast<ReadWay>(w);
        const double ns = reference_ns(read_limit_name(set, way, m));
        if (ns > 0.0 && (best_ns == 0.0 || ns < best_ns)) {
            best = way;
            best_ns = ns;
        }
    }
    return best;
}

std::string copy_limit_name(CopyWay way, MatrixId m)
{
    return std::string("limit/copy/") + copy_way_name(way) + "/" + matrix_name(m);
}

// The way that copied pr and ir fastest on m so far (COPY_MEMCPY before any has run).
CopyWay fastest_copy_way(MatrixId m)
{
    CopyWay best = COPY_MEMCPY;
    double best_ns = 0.0;
    for (int w = 0; w < COPY_WAY_COUNT; ++w) {
        const CopyWay way = static_cast<CopyWay>(w);
        const double ns = reference_ns(copy_limit_name(way, m));
        if (ns > 0.0 && (best_ns == 0.0 || ns < best_ns)) {
            best = way;
            best_ns = ns;
        }
    }
    return best;
}

double read_limit_ns(ReadSet set, MatrixId m)
{
    return reference_ns(read_limit_name(set, fastest_way(set, m), m));
}

double norm_limit_ns(NormKind kind, MatrixId m)
{
    if (kind == NORM_ONE) return read_limit_ns(READ_PR_JC, m);
    if (kind == NORM_INF) return read_limit_ns(READ_PR_IR, m);
    return std::max(read_limit_ns(READ_PR, m),
                    reference_ns(std::string("limit/add_chain/") + matrix_name(m)));
}

const char* plain_loop_of(NormKind kind)
{
    return kind == NORM_FRO ? "sum_of_squares" : kind == NORM_ONE ? "column_sums" : "row_scatter";
}

double norm_plain_ns(NormKind kind, MatrixId m)
{
    return reference_ns(std::string("plain/") + plain_loop_of(kind) + "/" + matrix_name(m));
}

// The chain adds the first 2048 values (16 KiB) over and over: nnz additions in all.
void register_limits(MatrixId m)
{
    for (ReadSet set : ALL_READ_SETS) {
        for (int w = 0; w < READ_WAY_COUNT; ++w) {
            const ReadWay way = static_cast<ReadWay>(w);
            if (!read_way_available(way)) continue;
            add_reference(read_limit_name(set, way, m), [m, set, way](benchmark::State& st) {
                const CscView& v = bench_matrix(m).view;
                return run_timed(st, v.nnz,
                                 [&] { benchmark::DoNotOptimize(read_arrays(way, set, v)); });
            });
        }
    }
    for (int w = 0; w < COPY_WAY_COUNT; ++w) {
        const CopyWay way = static_cast<CopyWay>(w);
        if (!copy_way_available(way)) continue;
        add_reference(copy_limit_name(way, m), [m, way](benchmark::State& st) {
            const CscView& v = bench_matrix(m).view;
            std::vector<double> pr_out(v.nnz, 1.0);
            std::vector<uint64_t> ir_out(v.nnz, 1);
            return run_timed(st, v.nnz, [&] {
                copy_bytes(way, pr_out.data(), v.pr, v.nnz * sizeof(double));
                copy_bytes(way, ir_out.data(), v.ir, v.nnz * sizeof(uint64_t));
                benchmark::ClobberMemory();
            });
        });
    }
    add_reference(std::string("limit/add_chain/") + matrix_name(m), [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        const uint64_t n = std::min<uint64_t>(2048, v.nnz);
        return run_timed(st, v.nnz, [&] { benchmark::DoNotOptimize(add_chain(v.pr, n, v.nnz)); });
    });
}

void register_plain_loops(MatrixId m)
{
    const std::string suffix = std::string("/") + matrix_name(m);
    add_reference("plain/sum_of_squares" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        return run_timed(st, v.nnz,
                         [&] { benchmark::DoNotOptimize(plain_sum_of_squares(v.pr, v.nnz)); });
    });
    add_reference("plain/sum_of_squares_unprefetched" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        return run_timed(st, v.nnz, [&] {
            benchmark::DoNotOptimize(plain_sum_of_squares_unprefetched(v.pr, v.nnz));
        });
    });
    add_reference("plain/column_sums" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        return run_timed(st, v.nnz,
                         [&] { benchmark::DoNotOptimize(plain_column_sums(v.pr, v.jc, v.ncols)); });
    });
    add_reference("plain/row_scatter" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        std::vector<double> rowsum(v.nrows, 1.0);
        return run_timed(st, v.nnz, [&] {
            benchmark::DoNotOptimize(plain_row_scatter(rowsum.data(), v.pr, v.ir, v.nnz, v.nrows));
        });
    });
    add_reference("plain/copy" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        std::vector<double> pr_out(v.nnz, 1.0);
        std::vector<uint64_t> ir_out(v.nnz, 1);
        return run_timed(st, v.nnz, [&] {
            plain_copy(pr_out.data(), ir_out.data(), v.pr, v.ir, v.nnz);
            benchmark::ClobberMemory();
        });
    });
}

// ---------------------------------------------------------------------------------------------
// Kernels and peers

double kernel_norm(NormKind kind, const CscView& v)
{
    if (kind == NORM_FRO) return frobenius_norm(v.pr, v.nnz);
    if (kind == NORM_ONE) return one_norm(v.pr, v.jc, v.ncols);
    // The row sums from the host, zero-filled, as the gateway takes them.
    double* rowsum = static_cast<double*>(mxCalloc(v.nrows, sizeof(double)));
    const double norm = inf_norm(v.pr, v.ir, v.nnz, v.nrows, rowsum);
    mxFree(rowsum);
    return norm;
}

void register_kernels(MatrixId m)
{
    for (NormKind kind : ALL_KINDS) {
        const std::string name = std::string("kernel/") + kind_name(kind) + "/" + matrix_name(m);
        add(name, [m, kind](benchmark::State& st) {
            const CscView& v = bench_matrix(m).view;
            const double ns =
                run_timed(st, v.nnz, [&] { benchmark::DoNotOptimize(kernel_norm(kind, v)); });
            report_ratios(st, ns, norm_limit_ns(kind, m), norm_plain_ns(kind, m));
        });
    }
}

struct Peer {
    const char* library;
    NormKind kind;
    double (*norm)(const CscView&);
};

// The peers this build was configured with (none without CXSparse and Eigen).
std::vector<Peer> available_peers()
{
    std::vector<Peer> peers;
#ifdef BENCH_WITH_CXSPARSE
    peers.push_back({"cxsparse", NORM_ONE, cxsparse_one_norm});
#endif
#ifdef BENCH_WITH_EIGEN
    peers.push_back({"eigen", NORM_FRO, eigen_frobenius_norm});
    peers.push_back({"eigen", NORM_ONE, eigen_one_norm});
    peers.push_back({"eigen", NORM_INF, eigen_inf_norm});
#endif
    return peers;
}

void register_peers(MatrixId m)
{
    for (const Peer& p : available_peers()) {
        const std::string name =
            std::string("peer/") + p.library + "/" + kind_name(p.kind) + "/" + matrix_name(m);
        add(name, [m, p](benchmark::State& st) {
            const CscView& v = bench_matrix(m).view;
            const double ns = run_timed(st, v.nnz, [&] { benchmark::DoNotOptimize(p.norm(v)); });
            report_ratios(st, ns, norm_limit_ns(p.kind, m), norm_plain_ns(p.kind, m));
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Through the stand-in host: the extensions loaded by file name, their mexFunction called with
// the host's own arrays. standin::call is left out on purpose: it fingerprints every input
// before and after the call, which costs more than the norms themselves.

// Times spgauge(a, kind); returns ns per entry.
double time_spgauge(benchmark::State& st, const BenchMatrix& a, NormKind kind)
{
    static const standin::MexFunction fn = standin::load_mex(SPGAUGE_MODULE);
    standin::Array kind_arg = kind_argument(kind);
    const mxArray* prhs[] = {a.host.get(), kind_arg.get()};
    mxArray* plhs[1] = {nullptr};
    return run_timed(
        st, a.view.nnz, [] {}, [&] { fn(1, plhs, 2, prhs); }, [&] { destroy_outputs(plhs, 1); });
}

void register_spgauge(MatrixId m)
{
    for (NormKind kind : ALL_KINDS) {
        const std::string name = std::string("spgauge/") + kind_name(kind) + "/" + matrix_name(m);
        add(name, [m, kind](benchmark::State& st) {
            const double ns = time_spgauge(st, bench_matrix(m), kind);
            report_ratios(st, ns, norm_limit_ns(kind, m), norm_plain_ns(kind, m));
        });
    }
}

// What standin::call adds per call (input fingerprints, output checks), on one matrix only.
void register_standin_call()
{
    add("standin_call/fro/M2", [](benchmark::State& st) {
        static const standin::MexFunction fn = standin::load_mex(SPGAUGE_MODULE);
        const BenchMatrix& a = bench_matrix(M2);
        standin::Array kind_arg = kind_argument(NORM_FRO);
        run_timed(st, a.view.nnz, [&] { standin::call(fn, 1, {a.host.get(), kind_arg.get()}); });
    });
}

// ---------------------------------------------------------------------------------------------
// dropsmall, taken apart

struct DropCase {
    MatrixId m;
    NormKind kind;
    TolFactor tol;
    bool warm;
};

std::string case_name(const DropCase& c)
{
    return kind_tol_name(c.kind, c.tol) + (c.warm ? "_warm" : "_cold");
}

// What one call of dropsmall decides for a case: its inputs and the search's answer.
struct DropPlan {
    double tol;
    double ratio_in;  // as passed to dropsmall: 0 for a cold start
    SearchResult found;
    uint64_t ndropped;  // entries at or below the threshold found
    uint64_t nkept;     // entries B keeps, as the search counted them
    uint64_t capacity;  // of B, as the assembly creates it
};

SearchResult search_once(const CscView& v, NormKind kind, double tol, double ratio_in)
{
    const double ratio = ratio_in == 0.0 ? 1.0 : ratio_in;
    int32_t* cand = static_cast<int32_t*>(mxCalloc(v.nnz, sizeof(int32_t)));
    return search_threshold(kind, v, tol, ratio, tol / ratio, cand);
}

const DropPlan& plan_of(const DropCase& c)
{
    static std::map<std::string, DropPlan> plans;
    const std::string key = case_name(c) + "/" + matrix_name(c.m);
    auto it = plans.find(key);
    if (it != plans.end()) return it->second;
    const CscView& v = bench_matrix(c.m).view;
    DropPlan p = {};
    p.tol = c.tol.factor * kernel_norm(c.kind, v);
    p.ratio_in = 0.0;
    if (c.warm) p.ratio_in = search_once(v, c.kind, p.tol, 0.0).ratio;
    p.found = search_once(v, c.kind, p.tol, p.ratio_in);
    p.ndropped = count_at_or_below(v.pr, v.nnz, p.found.threshold);
    p.nkept = v.nnz - p.found.nbelow - p.found.ncand;
    p.capacity = p.nkept > 0 ? p.nkept : 1;
    return plans.emplace(key, p).first->second;
}

std::string drop_limit_name(const DropCase& c)
{
    return "limit/drop/" + case_name(c) + "/" + matrix_name(c.m);
}

double drop_plain_ns(MatrixId m)
{
    const std::string suffix = std::string("/") + matrix_name(m);
    const double sum = reference_ns("plain/sum_of_squares" + suffix);
    const double copy = reference_ns("plain/copy" + suffix);
    return sum > 0.0 && copy > 0.0 ? sum + copy : 0.0;
}

// The limit reads pr and ir, and copies the kept entries, the ways fastest on this matrix.
void register_drop_limit(const DropCase& c)
{
    add_reference(drop_limit_name(c), [c](benchmark::State& st) {
        const CscView& v = bench_matrix(c.m).view;
        const DropPlan& p = plan_of(c);
        const ReadWay read_way = fastest_way(READ_PR_IR, c.m);
        const CopyWay copy_way = fastest_copy_way(c.m);
        std::vector<double> pr_out(p.capacity, 1.0);
        std::vector<uint64_t> ir_out(p.capacity, 1);
        const double ns = run_timed(st, v.nnz, [&] {
            benchmark::DoNotOptimize(read_all_write_kept(read_way, copy_way, v.pr, v.ir, v.nnz,
                                                         p.nkept, pr_out.data(), ir_out.data()));
            benchmark::ClobberMemory();
        });
        st.counters["kept_share"] = static_cast<double>(p.nkept) / static_cast<double>(v.nnz);
        return ns;
    });
}

void register_dropsmall_case(const DropCase& c)
{
    const std::string tail = case_name(c) + "/" + matrix_name(c.m);
    register_drop_limit(c);
    // A reference: dropmost's time on the same case is divided by the cold search's.
    add_reference("search/" + tail, [c](benchmark::State& st) {
        const CscView& v = bench_matrix(c.m).view;
        const DropPlan& p = plan_of(c);
        const double ratio = p.ratio_in == 0.0 ? 1.0 : p.ratio_in;
        int32_t* cand = nullptr;
        SearchResult r = {};
        const double ns = run_timed(
            st, v.nnz, [&] { cand = touched_candidates(v.nnz); },
            [&] { r = search_threshold(c.kind, v, p.tol, ratio, p.tol / ratio, cand); }, [] {});
        benchmark::DoNotOptimize(r);
        set_search_counters(st, p.found, p.ndropped, v.nnz);
        return ns;
    });
    add("copy/" + tail, [c](benchmark::State& st) {
        const CscView& v = bench_matrix(c.m).view;
        const DropPlan& p = plan_of(c);
        std::vector<double> pr_out(p.capacity, 1.0);
        std::vector<uint64_t> ir_out(p.capacity, 1), jc_out(v.ncols + 1, 0);
        const double ns = run_timed(st, v.nnz, [&] {
            benchmark::DoNotOptimize(copy_filtered(v, p.found.threshold, p.capacity, pr_out.data(),
                                                   ir_out.data(), jc_out.data()));
            benchmark::ClobberMemory();
        });
        report_ratios(st, ns, 0.0, reference_ns(std::string("plain/copy/") + matrix_name(c.m)));
    });
    add("alloc/" + tail, [c](benchmark::State& st) {
        const CscView& v = bench_matrix(c.m).view;
        const DropPlan& p = plan_of(c);
        run_timed(st, v.nnz, [&] {
            mxArray* b = mxCreateSparse(v.nrows, v.ncols, p.capacity, mxREAL);
            touch_pages(mxGetPr(b), p.capacity * sizeof(double));
            touch_pages(mxGetIr(b), p.capacity * sizeof(mwIndex));
            touch_pages(mxGetJc(b), (v.ncols + 1) * sizeof(mwIndex));
            mxDestroyArray(b);
        });
    });
    add_reference("dropsmall/" + tail, [c](benchmark::State& st) {
        static const standin::MexFunction fn = standin::load_mex(DROPSMALL_MODULE);
        const BenchMatrix& a = bench_matrix(c.m);
        const DropPlan& p = plan_of(c);
        standin::Array tol_arg = standin::scalar(p.tol), kind_arg = kind_argument(c.kind);
        standin::Array ratio_arg = standin::scalar(p.ratio_in);
        const mxArray* prhs[] = {a.host.get(), tol_arg.get(), kind_arg.get(), ratio_arg.get()};
        mxArray* plhs[2] = {nullptr, nullptr};
        const double ns = run_timed(
            st, a.view.nnz, [] {}, [&] { fn(2, plhs, 4, prhs); }, [&] { destroy_outputs(plhs, 2); });
        report_ratios(st, ns, reference_ns(drop_limit_name(c)), drop_plain_ns(c.m));
        return ns;
    });
}

void register_dropsmall(MatrixId m)
{
    for (NormKind kind : ALL_KINDS)
        for (const TolFactor& tol : ALL_TOLS)
            for (bool warm : {false, true}) register_dropsmall_case({m, kind, tol, warm});
}

// ---------------------------------------------------------------------------------------------
// dropmost, beside a cold dropsmall with the same matrix, kind and tol

// The arrays the kind's norm reads.
ReadSet read_set_of(NormKind kind)
{
    return kind == NORM_FRO ? READ_PR : kind == NORM_ONE ? READ_PR_JC : READ_PR_IR;
}

// c is a cold case: its plan gives tol and the cold search's answer, and its names the cold
// search and the cold dropsmall call measured before.
void register_dropmost_case(const DropCase& c)
{
    const std::string tail = kind_tol_name(c.kind, c.tol) + "/" + matrix_name(c.m);
    const std::string cold = case_name(c) + "/" + matrix_name(c.m);
    add("sparsest/" + tail, [c, cold](benchmark::State& st) {
        const CscView& v = bench_matrix(c.m).view;
        const DropPlan& p = plan_of(c);
        SparsestDrop r = {};
        const double ns =
            run_timed(st, v.nnz, [&] { r = find_sparsest_drop(c.kind, v, p.tol); });
        benchmark::DoNotOptimize(r);
        report_ratio(st, "vs_search", ns, reference_ns("search/" + cold));
        report_ratio(st, "vs_read", ns, read_limit_ns(read_set_of(c.kind), c.m));
        set_sparsest_counters(st, r, v.nnz);
        st.counters["search_dropped_share"] =
            static_cast<double>(p.ndropped) / static_cast<double>(v.nnz);
    });
    add("dropmost/" + tail, [c, cold](benchmark::State& st) {
        static const standin::MexFunction fn = standin::load_mex(DROPMOST_MODULE);
        const BenchMatrix& a = bench_matrix(c.m);
        const DropPlan& p = plan_of(c);
        standin::Array tol_arg = standin::scalar(p.tol), kind_arg = kind_argument(c.kind);
        const mxArray* prhs[] = {a.host.get(), tol_arg.get(), kind_arg.get()};
        mxArray* plhs[3] = {nullptr, nullptr, nullptr};
        const double ns = run_timed(
            st, a.view.nnz, [] {}, [&] { fn(3, plhs, 3, prhs); }, [&] { destroy_outputs(plhs, 3); });
        report_ratio(st, "vs_dropsmall", ns, reference_ns("dropsmall/" + cold));
    });
}

void register_dropmost(MatrixId m)
{
    for (NormKind kind : ALL_KINDS)
        for (const TolFactor& tol : ALL_TOLS) register_dropmost_case({m, kind, tol, false});
}

// ---------------------------------------------------------------------------------------------
// Rows that outnumber the stored entries

const uint64_t ROWS_SPREAD_SIZES[] = {100000, 1000000, 4000000, 16000000};

// The matrix of the case being run, built on first use: cases run in the order registered,
// each to the end, so one slot holds each matrix as long as it is needed.
const BenchMatrix& rows_spread(uint64_t nrows, uint64_t nnz)
{
    static uint64_t held_rows = 0, held_nnz = 0;
    static BenchMatrix* const held = new BenchMatrix;
    if (held_rows != nrows || held_nnz != nnz) {
        *held = BenchMatrix{};
        *held = rows_spread_matrix(nrows, nnz);
        held_rows = nrows;
        held_nnz = nnz;
    }
    return *held;
}

void register_rows_spread()
{
    for (uint64_t n : ROWS_SPREAD_SIZES) {
        const std::string size = std::to_string(n);
        const uint64_t tall = uint64_t{1} << 50, dense = n / 10;
        add("rows/number/hypersparse/" + size, [n, tall](benchmark::State& st) {
            const CscView& v = rows_spread(tall, n).view;
            std::vector<uint64_t> row_of(v.nnz, 1), words(v.nnz, 1);
            uint64_t count = 0;
            run_timed(st, v.nnz, [&] {
                count = number_occupied_rows(v.ir, v.nnz, row_of.data(), words.data());
                benchmark::ClobberMemory();
            });
            st.counters["rows_per_entry"] = static_cast<double>(count) / static_cast<double>(v.nnz);
        });
        for (uint64_t nrows : {tall, dense}) {
            const std::string shape = nrows == tall ? "hypersparse/" : "dense/";
            add("rows/spgauge_inf/" + shape + size, [n, nrows](benchmark::State& st) {
                time_spgauge(st, rows_spread(nrows, n), NORM_INF);
            });
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Limits and plain loops first: the later benchmarks of each matrix divide by their medians.
    for (MatrixId m : ALL_MATRICES) {
        register_limits(m);
        register_plain_loops(m);
        register_kernels(m);
        register_peers(m);
        register_spgauge(m);
        register_dropsmall(m);
        register_dropmost(m);
    }
    register_standin_call();
    register_rows_spread();
    register_family_drops();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
