#include "bench_registry.h"

#include "sparsest_drop.h"
#include "threshold_search.h"

#include <algorithm>
#include <ctime>
#include <map>

const char* kind_name(NormKind kind)
{
    return kind == NORM_FRO ? "fro" : kind == NORM_ONE ? "one" : "inf";
}

std::string kind_tol_name(NormKind kind, const TolFactor& tol)
{
    return std::string(kind_name(kind)) + "_" + tol.name;
}

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

std::vector<double>& reference_runs(const std::string& name)
{
    static std::map<std::string, std::vector<double>> runs;
    return runs[name];
}

double reference_ns(const std::string& name)
{
    return median(reference_runs(name));
}

void report_ratio(benchmark::State& st, const char* counter, double ns, double reference)
{
    if (reference > 0.0) st.counters[counter] = ns / reference;
}

void set_search_counters(benchmark::State& st, const SearchResult& r, uint64_t ndropped,
                         uint64_t nnz)
{
    st.counters["rounds"] = static_cast<double>(r.rounds);
    st.counters["scan_rounds"] = static_cast<double>(r.scan_rounds);
    st.counters["recounts"] = static_cast<double>(r.recounts);
    st.counters["reads_per_entry"] =
        static_cast<double>(r.entries_read) / static_cast<double>(nnz);
    st.counters["dropped_share"] = static_cast<double>(ndropped) / static_cast<double>(nnz);
}

void set_sparsest_counters(benchmark::State& st, const SparsestDrop& r, uint64_t nnz)
{
    st.counters["passes"] = static_cast<double>(r.passes);
    st.counters["recounts"] = static_cast<double>(r.recounts);
    st.counters["reads_per_entry"] =
        static_cast<double>(r.entries_read) / static_cast<double>(nnz);
    st.counters["entries_sorted"] = static_cast<double>(r.entries_sorted);
    st.counters["groups_limited"] = static_cast<double>(r.groups_limited);
    st.counters["dropped_share"] = static_cast<double>(r.ndropped) / static_cast<double>(nnz);
}

uint64_t count_at_or_below(const double* pr, uint64_t nnz, double threshold)
{
    uint64_t count = 0;
    for (uint64_t k = 0; k < nnz; ++k) count += magnitude(pr[k]) <= threshold;
    return count;
}

int32_t* touched_candidates(uint64_t nnz)
{
    int32_t* cand = static_cast<int32_t*>(mxCalloc(nnz, sizeof(int32_t)));
    touch_pages(cand, nnz * sizeof(int32_t));
    return cand;
}

void touch_pages(void* block, size_t bytes)
{
    char* p = static_cast<char*>(block);
    for (size_t b = 0; b < bytes; b += 4096) p[b] = 0;
}

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
