// Benchmarks of the norm kernels and of dropsmall on the fixed matrix set, beside the floors of
// bench_floors.h. Every benchmark reports ns_per_entry (time per stored entry) and, where a floor
// matches, vs_floor (its time over the floor's median time on the same matrix).
//
//   floor/<what>/<M>            the floors
//   kernel/<kind>/<M>           a norm kernel over plain arrays (scratch from the stand-in host)
//   spgauge/<kind>/<M>          spgauge's mexFunction called as a host calls it (stand-in host)
//   search/<case>/<M>           search_threshold, its candidate list already touched
//   copy/<case>/<M>             the filtered copy into already touched arrays
//   alloc/<case>/<M>            the host creating B with that capacity, first touch, release
//   dropsmall/<case>/<M>        dropsmall's mexFunction, end to end (stand-in host)
// where <case> is <kind>_<tol>_<cold|warm>, tol being 1e-3 or 1e-1 of the kind's norm; a warm
// start passes the ratio that the cold call returned.
#include "bench_floors.h"
#include "bench_matrices.h"

#include "norm_kernels.h"
#include "assemble_filtered.h"
#include "copy_kept.h"
#include "threshold_search.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <map>
#include <string>
#include <vector>


namespace {

const MatrixId ALL_MATRICES[] = {M1, M2, M3, M3T};
const NormKind ALL_KINDS[] = {NORM_FRO, NORM_ONE, NORM_INF};

const char* kind_name(NormKind kind)
{
    return kind == NORM_FRO ? "fro" : kind == NORM_ONE ? "one" : "inf";
}

// The thread's own CPU time: other programs sharing the machine's two cores do not count, while
// the kernel's work for this thread (page faults, mapping and unmapping memory) does.
double thread_seconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double median(std::vector<double> v)
{
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// ns per entry of every repetition of every floor run so far, by "<floor>/<M>".
std::map<std::string, std::vector<double>>& floor_runs()
{
    static std::map<std::string, std::vector<double>> runs;
    return runs;
}

double floor_ns(const std::string& floor, MatrixId m)
{
    return median(floor_runs()[floor + "/" + matrix_name(m)]);
}

// Times the body of each iteration (setup and cleanup stay outside through manual timing) and
// sets ns_per_entry; returns it.
template <typename Setup, typename Body, typename Cleanup>
double run_timed(benchmark::State& st, uint64_t nnz, Setup setup, Body body, Cleanup cleanup)
{
    double total = 0.0;
    for (auto _ : st) {
        setup();
        const double t0 = thread_seconds();
        body();
        const double s = thread_seconds() - t0;
        st.SetIterationTime(s);
        total += s;
        cleanup();
    }
    const double ns = total / static_cast<double>(st.iterations()) / static_cast<double>(nnz) * 1e9;
    st.counters["ns_per_entry"] = ns;
    return ns;
}

template <typename Body>
double run_timed(benchmark::State& st, uint64_t nnz, Body body)
{
    return run_timed(st, nnz, [] {}, body, [] {});
}

// Registers a benchmark timed by run_timed, reported in milliseconds per call.
template <typename Fn>
void add(const std::string& name, Fn fn)
{
    benchmark::RegisterBenchmark(name.c_str(), fn)->UseManualTime()->Unit(benchmark::kMillisecond);
}

void report_ratio(benchmark::State& st, double ns, double floor)
{
    if (floor > 0.0) st.counters["vs_floor"] = ns / floor;
}

// ---------------------------------------------------------------------------------------------
// Floors and kernels

void register_floors(MatrixId m)
{
    const std::string suffix = std::string("/") + matrix_name(m);
    add("floor/sum_of_squares" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        const double ns = run_timed(st, v.nnz, [&] {
            benchmark::DoNotOptimize(floor_sum_of_squares(v.pr, v.nnz));
        });
        floor_runs()[std::string("sum_of_squares/") + matrix_name(m)].push_back(ns);
    });
    add("floor/sum_of_squares_plain" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        run_timed(st, v.nnz, [&] { benchmark::DoNotOptimize(floor_sum_of_squares_plain(v.pr, v.nnz)); });
    });
    add("floor/read_values" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        run_timed(st, v.nnz, [&] { benchmark::DoNotOptimize(floor_read_values(v.pr, v.nnz)); });
    });
    add("floor/column_sums" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        const double ns = run_timed(st, v.nnz, [&] {
            benchmark::DoNotOptimize(floor_column_sums(v.pr, v.jc, v.ncols));
        });
        floor_runs()[std::string("column_sums/") + matrix_name(m)].push_back(ns);
    });
    add("floor/row_scatter" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        std::vector<double> rowsum(v.nrows, 1.0);
        const double ns = run_timed(st, v.nnz, [&] {
            benchmark::DoNotOptimize(floor_row_scatter(rowsum.data(), v.pr, v.ir, v.nnz, v.nrows));
        });
        floor_runs()[std::string("row_scatter/") + matrix_name(m)].push_back(ns);
    });
    add("floor/copy" + suffix, [m](benchmark::State& st) {
        const CscView& v = bench_matrix(m).view;
        std::vector<double> pr_out(v.nnz, 1.0);
        std::vector<uint64_t> ir_out(v.nnz, 1);
        const double ns = run_timed(st, v.nnz, [&] {
            floor_copy(pr_out.data(), ir_out.data(), v.pr, v.ir, v.nnz);
            benchmark::ClobberMemory();
        });
        floor_runs()[std::string("copy/") + matrix_name(m)].push_back(ns);
    });
}

const char* floor_of(NormKind kind)
{
    return kind == NORM_FRO ? "sum_of_squares" : kind == NORM_ONE ? "column_sums" : "row_scatter";
}

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
            const double ns = run_timed(st, v.nnz, [&] { benchmark::DoNotOptimize(kernel_norm(kind, v)); });
            report_ratio(st, ns, floor_ns(floor_of(kind), m));
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Through the stand-in host: the extensions loaded by file name, their mexFunction called with
// the host's own arrays. standin::call is left out on purpose: it fingerprints every input
// before and after the call, which costs more than the norms themselves.

standin::Array kind_argument(NormKind kind)
{
    if (kind == NORM_ONE) return standin::scalar(1.0);
    return standin::text(kind == NORM_FRO ? "fro" : "inf");
}

void destroy_outputs(mxArray* plhs[], int n)
{
    for (int i = 0; i < n; ++i) {
        mxDestroyArray(plhs[i]);
        plhs[i] = nullptr;
    }
}

void register_spgauge(MatrixId m)
{
    for (NormKind kind : ALL_KINDS) {
        const std::string name = std::string("spgauge/") + kind_name(kind) + "/" + matrix_name(m);
        add(name, [m, kind](benchmark::State& st) {
            static const standin::MexFunction fn = standin::load_mex(SPGAUGE_MODULE);
            const BenchMatrix& a = bench_matrix(m);
            standin::Array kind_arg = kind_argument(kind);
            const mxArray* prhs[] = {a.host.get(), kind_arg.get()};
            mxArray* plhs[1] = {nullptr};
            const double ns = run_timed(
                st, a.view.nnz, [] {}, [&] { fn(1, plhs, 2, prhs); }, [&] { destroy_outputs(plhs, 1); });
            report_ratio(st, ns, floor_ns(floor_of(kind), m));
        });
    }
}

// The addition latency alone: 2048 values (16 KiB) summed over and over, 1e7 squares in all.
void register_add_latency()
{
    add("floor/add_latency", [](benchmark::State& st) {
        const CscView& v = bench_matrix(M2).view;
        const uint64_t total = 10000000;
        run_timed(st, total, [&] { benchmark::DoNotOptimize(floor_add_latency(v.pr, 2048, total)); });
    });
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
    double tol_factor;
    bool warm;
};

std::string case_name(const DropCase& c)
{
    return std::string(kind_name(c.kind)) + (c.tol_factor < 0.01 ? "_1e-3_" : "_1e-1_") +
           (c.warm ? "warm" : "cold");
}

// What one call of dropsmall decides for a case: its inputs and the search's answer.
struct DropPlan {
    double tol;
    double ratio_in;  // as passed to dropsmall: 0 for a cold start
    SearchResult found;
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
    p.tol = c.tol_factor * kernel_norm(c.kind, v);
    p.ratio_in = 0.0;
    if (c.warm) p.ratio_in = search_once(v, c.kind, p.tol, 0.0).ratio;
    p.found = search_once(v, c.kind, p.tol, p.ratio_in);
    const uint64_t kept = v.nnz - p.found.nbelow - p.found.ncand;
    p.capacity = kept > 0 ? kept : 1;
    return plans.emplace(key, p).first->second;
}

// Writes one zero into every 4 KiB page of a zero-filled block: the first touch of each page.
void touch_pages(void* block, size_t bytes)
{
    char* p = static_cast<char*>(block);
    for (size_t b = 0; b < bytes; b += 4096) p[b] = 0;
}

double search_and_copy_floor(MatrixId m)
{
    return floor_ns("sum_of_squares", m) + floor_ns("copy", m);
}

void set_search_counters(benchmark::State& st, const DropPlan& p, const CscView& v)
{
    st.counters["rounds"] = static_cast<double>(p.found.rounds);
    st.counters["scan_rounds"] = static_cast<double>(p.found.scan_rounds);
    st.counters["recounts"] = static_cast<double>(p.found.recounts);
    st.counters["dropped_share"] =
        static_cast<double>(p.found.nbelow + p.found.ncand) / static_cast<double>(v.nnz);
}

void register_dropsmall_case(const DropCase& c)
{
    const std::string tail = case_name(c) + "/" + matrix_name(c.m);
    add("search/" + tail, [c](benchmark::State& st) {
        const CscView& v = bench_matrix(c.m).view;
        const DropPlan& p = plan_of(c);
        const double ratio = p.ratio_in == 0.0 ? 1.0 : p.ratio_in;
        int32_t* cand = nullptr;
        SearchResult r = {};
        const double ns = run_timed(
            st, v.nnz,
            [&] {
                cand = static_cast<int32_t*>(mxCalloc(v.nnz, sizeof(int32_t)));
                touch_pages(cand, v.nnz * sizeof(int32_t));
            },
            [&] { r = search_threshold(c.kind, v, p.tol, ratio, p.tol / ratio, cand); }, [] {});
        benchmark::DoNotOptimize(r);
        set_search_counters(st, p, v);
        report_ratio(st, ns, search_and_copy_floor(c.m));
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
        report_ratio(st, ns, floor_ns("copy", c.m));
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
    add("dropsmall/" + tail, [c](benchmark::State& st) {
        static const standin::MexFunction fn = standin::load_mex(DROPSMALL_MODULE);
        const BenchMatrix& a = bench_matrix(c.m);
        const DropPlan& p = plan_of(c);
        standin::Array tol_arg = standin::scalar(p.tol), kind_arg = kind_argument(c.kind);
        standin::Array ratio_arg = standin::scalar(p.ratio_in);
        const mxArray* prhs[] = {a.host.get(), tol_arg.get(), kind_arg.get(), ratio_arg.get()};
        mxArray* plhs[2] = {nullptr, nullptr};
        const double ns = run_timed(
            st, a.view.nnz, [] {}, [&] { fn(2, plhs, 4, prhs); }, [&] { destroy_outputs(plhs, 2); });
        report_ratio(st, ns, search_and_copy_floor(c.m));
    });
}

void register_dropsmall(MatrixId m)
{
    for (NormKind kind : ALL_KINDS)
        for (double tol_factor : {1e-3, 1e-1})
            for (bool warm : {false, true}) register_dropsmall_case({m, kind, tol_factor, warm});
}

}  // namespace

int main(int argc, char** argv)
{
    // Floors first: the later benchmarks of each matrix divide by their medians.
    register_add_latency();
    for (MatrixId m : ALL_MATRICES) {
        register_floors(m);
        register_kernels(m);
        register_spgauge(m);
        register_dropsmall(m);
    }
    register_standin_call();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
