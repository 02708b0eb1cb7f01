// What the files of sparse_bench share: benchmarks timed by hand in the thread's CPU time, and
// the reference runs (limits, plain loops, and the searches and calls others are compared with)
// whose medians the benchmarks registered after them divide by.
#pragma once

#include "csc_view.h"
#include "standin.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SearchResult;
struct SparsestDrop;

const NormKind ALL_KINDS[] = {NORM_FRO, NORM_ONE, NORM_INF};

// "fro", "one", "inf".
const char* kind_name(NormKind kind);

// A tolerance as a fraction of the kind's norm, and its name.
struct TolFactor {
    double factor;
    const char* name;
};
const TolFactor ALL_TOLS[] = {{1e-6, "1e-6"}, {1e-3, "1e-3"}, {1e-1, "1e-1"}};

// "<kind>_<tol>", e.g. "fro_1e-3".
std::string kind_tol_name(NormKind kind, const TolFactor& tol);

// The thread's own CPU time: other programs sharing the machine's two cores do not count, while
// the kernel's work for this thread (page faults, mapping and unmapping memory) does.
double thread_seconds();

double median(std::vector<double> v);

// ns per entry of every repetition of the reference named so far (each run of Google
// Benchmark's, the ones that choose the iteration count included).
std::vector<double>& reference_runs(const std::string& name);

// The median of a reference's runs; 0 when it did not run (left out by a filter).
double reference_ns(const std::string& name);

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

// Registers a reference: fn times it and returns ns per entry, kept for the later ratios.
template <typename Fn>
void add_reference(const std::string& name, Fn fn)
{
    add(name, [name, fn](benchmark::State& st) { reference_runs(name).push_back(fn(st)); });
}

// Sets counter to ns over the reference's median, where that ran.
void report_ratio(benchmark::State& st, const char* counter, double ns, double reference);

// The work a search took and the share of the nnz stored entries that its threshold drops:
// rounds, scan_rounds, recounts, reads_per_entry (entries read over nnz) and dropped_share.
void set_search_counters(benchmark::State& st, const SearchResult& r, uint64_t ndropped,
                         uint64_t nnz);

// The same for a sparsest drop: passes, recounts, reads_per_entry, entries_sorted,
// groups_limited and dropped_share.
void set_sparsest_counters(benchmark::State& st, const SparsestDrop& r, uint64_t nnz);

// How many of pr[0 .. nnz-1] lie at or below threshold in magnitude: what dropsmall drops at
// the threshold its search ends on (the search's own counts are exact only where it ended
// within tol).
uint64_t count_at_or_below(const double* pr, uint64_t nnz, double threshold);

// A zero-filled candidate list of nnz entries from the host, every page touched, as dropsmall
// hands it to the search (which releases it).
int32_t* touched_candidates(uint64_t nnz);

// Writes one zero into every 4 KiB page of a zero-filled block: the first touch of each page.
void touch_pages(void* block, size_t bytes);

// The kind as the extensions take it: 1, "inf" or "fro".
standin::Array kind_argument(NormKind kind);

// Destroys the n outputs of a call and clears their slots.
void destroy_outputs(mxArray* plhs[], int n);
