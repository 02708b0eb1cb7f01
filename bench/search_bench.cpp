// Benchmarks of dropsmall's threshold search on the matrices that drive it to its worst cases
// (tests/support/search_families.h), each beside a random matrix of the same size and kind.
// Every benchmark reports ns_per_entry (time per stored entry), vs_random (that over the random
// matrix's) and nnz; the search's also its counts: rounds (idle_rounds of them removing nothing,
// scan_rounds re-reading every live candidate, ordered_rounds only those removed), recounts and
// entries_read.
//
//   search/<family>/<one|inf>/<n>   search_threshold as dropsmall calls it, candidate list touched
//   spgauge/<family>/inf/<n>        spgauge's mexFunction through the stand-in host
//
// From the build directory:
//   bench/search_bench                                 every case at 1e4, 1e5 and 1e6 entries
//   SEARCH_BENCH_SKIP_SLOW=1 bench/search_bench        leaves out the cases the search before its
//                                                      rework needed over ~30 s (or GBs) for
//   SEARCH_BENCH_SIZES=104,10000 bench/search_bench    other sizes (comma-separated)
//   bench/search_bench --families                      each family's shape and sums, bit for bit,
//                                                      to compare with bench/octave_families.m
// Google Benchmark's own flags (--benchmark_filter=..., --benchmark_out=...) work as usual.
#include "bench_registry.h"
#include "search_families.h"
#include "threshold_search.h"

#include "bits.h"
#include "standin.h"

#include <benchmark/benchmark.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const SearchFamily FAULT_FAMILIES[] = {FAMILY_IDLE, FAMILY_QUADRATIC, FAMILY_ROW_COUNT};
const NormKind KINDS[] = {NORM_ONE, NORM_INF};

std::vector<uint64_t> bench_sizes()
{
    std::vector<uint64_t> sizes;
    const char* list = std::getenv("SEARCH_BENCH_SIZES");
    if (list == nullptr) return {10000, 100000, 1000000};
    for (const char* p = list; *p != '\0';) {
        char* end = nullptr;
        const double n = std::strtod(p, &end);  // 1e4 as well as 10000
        if (end == p) break;
        sizes.push_back(static_cast<uint64_t>(n));
        p = *end == ',' ? end + 1 : end;
    }
    return sizes;
}

// Measured with the search as it was before its rework (2 shared cores): the idle family takes
// about 8 ms per stored entry (1e4: 80 s), the quadratic one 0.15 s at 1e4 and 2.4 s at 3e4
// (1e5: about 30 s, 1e6: about an hour), and every infinity-norm pass over the row-count family reads 8
// bytes per row, 1000 rows per entry (1e6: 8 GB of row sums, read six times).
bool slow_before_rework(SearchFamily family, NormKind kind, uint64_t n)
{
    if (family == FAMILY_IDLE) return n > 2000;
    if (family == FAMILY_QUADRATIC) return n > 50000;
    if (family == FAMILY_ROW_COUNT && kind == NORM_INF) return n > 200000;
    return false;
}

bool skip_slow()
{
    const char* v = std::getenv("SEARCH_BENCH_SKIP_SLOW");
    return v != nullptr && std::strcmp(v, "") != 0 && std::strcmp(v, "0") != 0;
}

std::string case_name(SearchFamily family, NormKind kind, uint64_t n)
{
    return std::string(family_name(family)) + "/" + kind_name(kind) + "/" + std::to_string(n);
}

// The matrix of the case being run, built on first use. Cases run in the order registered,
// each to the end, so one slot holds every matrix as long as it is needed.
const FamilyCall& family_call(SearchFamily family, NormKind kind, uint64_t n)
{
    static std::string held_name;
    static FamilyCall held;
    const std::string name = case_name(family, kind, n);
    if (name != held_name) {
        held = FamilyCall{};
        held = search_family(family, n, kind);
        held_name = name;
    }
    return held;
}

CscView view_of(const TestMatrix& a)
{
    return CscView{a.pr.data(), a.ir.data(), a.jc.data(), a.nrows, a.ncols, a.pr.size()};
}

// Times the body alone as run_timed does (setup and cleanup run outside the clock), sets nnz
// and, beside the random matrix, vs_random; the random matrix's own runs are recorded under
// `key`.
template <typename Setup, typename Body, typename Cleanup>
void run_family_timed(benchmark::State& st, uint64_t nnz, SearchFamily family,
                      const std::string& key, Setup setup, Body body, Cleanup cleanup)
{
    const double ns = run_timed(st, nnz, setup, body, cleanup);
    st.counters["nnz"] = static_cast<double>(nnz);
    if (family == FAMILY_RANDOM)
        reference_runs(key).push_back(ns);
    else
        report_ratio(st, "vs_random", ns, reference_ns(key));
}

void register_search(SearchFamily family, NormKind kind, uint64_t n)
{
    const std::string key = std::string("search/") + kind_name(kind) + "/" + std::to_string(n);
    add("search/" + case_name(family, kind, n), [family, kind, n, key](benchmark::State& st) {
        const FamilyCall& c = family_call(family, kind, n);
        const CscView v = view_of(c.a);
        // As dropsmall calls it: a ratio of 0 starts at tol.
        const double ratio = c.ratio == 0.0 ? 1.0 : c.ratio;
        int32_t* cand = nullptr;
        SearchResult r = {};
        run_family_timed(
            st, v.nnz, family, key, [&] { cand = touched_candidates(v.nnz); },
            [&] { r = search_threshold(kind, v, c.tol, ratio, c.tol / ratio, cand); }, [] {});
        benchmark::DoNotOptimize(r);
        st.counters["rounds"] = static_cast<double>(r.rounds);
        st.counters["idle_rounds"] = static_cast<double>(r.idle_rounds);
        st.counters["scan_rounds"] = static_cast<double>(r.scan_rounds);
        st.counters["ordered_rounds"] = static_cast<double>(r.ordered_rounds);
        st.counters["recounts"] = static_cast<double>(r.recounts);
        st.counters["entries_read"] = static_cast<double>(r.entries_read);
        st.counters["sum_updates"] = static_cast<double>(r.sum_updates);
    });
}

// spgauge(A, 'inf') as a host calls it; the host's copy of A is made once per case.
void register_spgauge(SearchFamily family, uint64_t n)
{
    const std::string key = "spgauge/inf/" + std::to_string(n);
    add("spgauge/" + case_name(family, NORM_INF, n), [family, n, key](benchmark::State& st) {
        static const standin::MexFunction fn = standin::load_mex(SPGAUGE_MODULE);
        const FamilyCall& c = family_call(family, NORM_INF, n);
        standin::Array a = standin::sparse(c.a.nrows, c.a.ncols, c.a.jc, c.a.ir, c.a.pr);
        standin::Array kind_arg = standin::text("inf");
        const mxArray* prhs[] = {a.get(), kind_arg.get()};
        mxArray* plhs[1] = {nullptr};
        run_family_timed(
            st, c.a.pr.size(), family, key, [] {}, [&] { fn(1, plhs, 2, prhs); },
            [&] {
                mxDestroyArray(plhs[0]);
                plhs[0] = nullptr;
            });
    });
}

// Registers every case, the random matrix first in each group so that vs_random can refer to
// it; returns the names of the cases left out.
std::vector<std::string> register_all(const std::vector<uint64_t>& sizes, bool skipping)
{
    std::vector<std::string> skipped;
    for (uint64_t n : sizes) {
        for (NormKind kind : KINDS) {
            register_search(FAMILY_RANDOM, kind, n);
            for (SearchFamily family : FAULT_FAMILIES) {
                if (skipping && slow_before_rework(family, kind, n))
                    skipped.push_back("search/" + case_name(family, kind, n));
                else
                    register_search(family, kind, n);
            }
        }
        register_spgauge(FAMILY_RANDOM, n);
        if (skipping && slow_before_rework(FAMILY_ROW_COUNT, NORM_INF, n))
            skipped.push_back("spgauge/" + case_name(FAMILY_ROW_COUNT, NORM_INF, n));
        else
            register_spgauge(FAMILY_ROW_COUNT, n);
    }
    return skipped;
}

// One line per family, kind and size: the shape, then tol, ratio, the sum of the values and
// their sums weighted by row and by column (1-based, one running total in storage order each),
// as the bits of each double in hexadecimal. bench/octave_families.m prints the same lines.
void print_fingerprints(const std::vector<uint64_t>& sizes)
{
    for (uint64_t n : sizes) {
        for (NormKind kind : KINDS) {
            for (SearchFamily family : FAULT_FAMILIES) {
                const FamilyCall c = search_family(family, n, kind);
                double sum = 0.0, by_row = 0.0, by_col = 0.0;
                for (uint64_t j = 0; j < c.a.ncols; ++j) {
                    for (uint64_t k = c.a.jc[j]; k < c.a.jc[j + 1]; ++k) {
                        sum += c.a.pr[k];
                        by_row += c.a.pr[k] * static_cast<double>(c.a.ir[k] + 1);
                        by_col += c.a.pr[k] * static_cast<double>(j + 1);
                    }
                }
                std::printf("%s %" PRIu64 " %" PRIu64 " %zu %016" PRIx64 " %016" PRIx64
                            " %016" PRIx64 " %016" PRIx64 " %016" PRIx64 "\n",
                            case_name(family, kind, n).c_str(), c.a.nrows, c.a.ncols, c.a.pr.size(),
                            bits_of(c.tol), bits_of(c.ratio), bits_of(sum), bits_of(by_row),
                            bits_of(by_col));
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<uint64_t> sizes = bench_sizes();
    if (argc > 1 && std::strcmp(argv[1], "--families") == 0) {
        print_fingerprints(sizes);
        return 0;
    }
    const std::vector<std::string> skipped = register_all(sizes, skip_slow());
    for (const std::string& name : skipped)
        std::fprintf(stderr, "skipped (SEARCH_BENCH_SKIP_SLOW): %s\n", name.c_str());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
