#include "bench_families.h"

#include "bench_registry.h"

#include "frobenius.h"
#include "host_matrix.h"
#include "norm_kernels.h"
#include "search_families.h"
#include "sparsest_drop.h"
#include "threshold_search.h"

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

const SearchFamily ALL_FAMILIES[] = {FAMILY_IDLE, FAMILY_QUADRATIC, FAMILY_ROW_COUNT, FAMILY_RANDOM};
const NormKind ORIENTATIONS[] = {NORM_ONE, NORM_INF};

std::vector<uint64_t> family_sizes()
{
    const char* list = std::getenv("SPARSE_BENCH_FAMILY_SIZES");
    if (list == nullptr) return {10000, 100000, 1000000};
    std::vector<uint64_t> sizes;
    for (const char* p = list; *p != '\0';) {
        char* end = nullptr;
        const double n = std::strtod(p, &end);
        if (end == p) break;
        sizes.push_back(static_cast<uint64_t>(n));
        p = *end == ',' ? end + 1 : end;
    }
    return sizes;
}

// A family's matrix in one orientation, and its three norms (by NormKind) as spgauge takes them.
struct FamilyMatrix {
    std::string name;  // <family>/<orientation>/<n>
    TestMatrix a;
    CscView view;
    double norm[3];
};

double inf_norm_of(const CscView& v)
{
    // The rows that hold entries only: the row-count family runs to 1e9 rows.
    const SummedRows rows = rows_to_sum(v);
    double* rowsum = static_cast<double*>(mxCalloc(rows.nrows, sizeof(double)));
    const double norm = inf_norm(v.pr, rows.row, v.nnz, rows.nrows, rowsum);
    mxFree(rowsum);
    release_rows(rows);
    return norm;
}

// The matrix of the case being run, built on first use. Cases run in the order registered, each
// to the end of its repetitions, so one slot holds every matrix as long as it is needed.
const FamilyMatrix& family_matrix(SearchFamily family, NormKind orientation, uint64_t n)
{
    static FamilyMatrix held;
    const std::string name = std::string(family_name(family)) + "/" + kind_name(orientation) +
                             "/" + std::to_string(n);
    if (name == held.name) return held;
    held = FamilyMatrix{};
    held.a = search_family(family, n, orientation).a;
    const TestMatrix& a = held.a;
    held.view = CscView{a.pr.data(), a.ir.data(), a.jc.data(), a.nrows, a.ncols, a.pr.size()};
    held.norm[NORM_FRO] = frobenius_norm(a.pr.data(), a.pr.size());
    held.norm[NORM_ONE] = one_norm(a.pr.data(), a.jc.data(), a.ncols);
    held.norm[NORM_INF] = inf_norm_of(held.view);
    held.name = name;
    return held;
}

// The entries each cold search's threshold drops, by its case, beside the sparsest drop's.
std::map<std::string, uint64_t>& searches_dropped()
{
    static std::map<std::string, uint64_t> dropped;
    return dropped;
}

struct FamilyCase {
    SearchFamily family;
    NormKind orientation;
    uint64_t n;
    NormKind kind;
    TolFactor tol;
};

std::string family_case_name(const FamilyCase& c)
{
    return std::string(family_name(c.family)) + "/" + kind_name(c.orientation) + "/" +
           std::to_string(c.n) + "/" + kind_tol_name(c.kind, c.tol);
}

void register_case(const FamilyCase& c)
{
    const std::string name = family_case_name(c);
    add_reference("search_cold/" + name, [c, name](benchmark::State& st) {
        const FamilyMatrix& m = family_matrix(c.family, c.orientation, c.n);
        const double tol = c.tol.factor * m.norm[c.kind];
        int32_t* cand = nullptr;
        SearchResult r = {};
        const double ns = run_timed(
            st, m.view.nnz, [&] { cand = touched_candidates(m.view.nnz); },
            [&] { r = search_threshold(c.kind, m.view, tol, 1.0, tol, cand); }, [] {});
        benchmark::DoNotOptimize(r);
        const uint64_t ndropped = count_at_or_below(m.view.pr, m.view.nnz, r.threshold);
        set_search_counters(st, r, ndropped, m.view.nnz);
        st.counters["nnz"] = static_cast<double>(m.view.nnz);
        searches_dropped()[name] = ndropped;
        return ns;
    });
    add("sparsest/" + name, [c, name](benchmark::State& st) {
        const FamilyMatrix& m = family_matrix(c.family, c.orientation, c.n);
        const double tol = c.tol.factor * m.norm[c.kind];
        SparsestDrop r = {};
        const double ns =
            run_timed(st, m.view.nnz, [&] { r = find_sparsest_drop(c.kind, m.view, tol); });
        benchmark::DoNotOptimize(r);
        report_ratio(st, "vs_search", ns, reference_ns("search_cold/" + name));
        set_sparsest_counters(st, r, m.view.nnz);
        st.counters["nnz"] = static_cast<double>(m.view.nnz);
        const auto it = searches_dropped().find(name);
        if (it != searches_dropped().end())
            st.counters["search_dropped_share"] =
                static_cast<double>(it->second) / static_cast<double>(m.view.nnz);
    });
}

}  // namespace

void register_family_drops()
{
    for (uint64_t n : family_sizes())
        for (SearchFamily family : ALL_FAMILIES)
            for (NormKind orientation : ORIENTATIONS)
                for (NormKind kind : ALL_KINDS)
                    for (const TolFactor& tol : ALL_TOLS)
                        register_case({family, orientation, n, kind, tol});
}
