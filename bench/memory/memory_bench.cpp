// Peak memory of spgauge and dropsmall on a large matrix, against the least each call needs.
// Both extensions are loaded from their stand-in builds and called as a host calls them; the
// stand-in counts every byte a call holds (its scratch and the arrays it creates), and the
// kernel's resident-set high-water mark shows what was really touched. A benchmark, run by hand:
//   memory_bench [columns] [entries per column]      (default 1000000 columns, 20 per column)
#include "standin.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

namespace {

using standin::Array;

// xorshift64*: a fixed stream, so every run measures the same matrix.
struct Random {
    uint64_t state = 0x9E3779B97F4A7C15u;
    uint64_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Du;
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
};

// A square matrix with about `per_column` entries in each column at random rows, magnitudes
// spread evenly over six decades, signs at random.
Array large_matrix(uint64_t n, uint64_t per_column)
{
    Random rng;
    std::vector<uint64_t> jc{0}, ir, rows;
    std::vector<double> pr;
    ir.reserve(n * per_column);
    pr.reserve(n * per_column);
    for (uint64_t j = 0; j < n; ++j) {
        rows.clear();
        for (uint64_t t = 0; t < per_column; ++t) rows.push_back(rng.next() % n);
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        for (uint64_t i : rows) {
            ir.push_back(i);
            const double x = std::pow(10.0, -6.0 * rng.unit());
            pr.push_back(rng.next() & 1 ? -x : x);
        }
        jc.push_back(pr.size());
    }
    return standin::sparse(n, n, jc, ir, pr);
}

// The kernel's resident-set figures in bytes ("VmRSS", "VmHWM").
size_t status_bytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::strtoull(line.c_str() + std::strlen(field) + 1, nullptr, 10) * 1024;
    return 0;
}

// Resets the high-water mark to the current resident set (Linux 4.0 and later).
void reset_peak_rss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

struct Measured {
    standin::Outcome out;
    size_t rss_growth;  // high-water mark during the call minus the resident set before it
};

// The call made twice: once through standin::call, which counts the bytes the call holds, and
// once straight, without the copies of the inputs that standin::call keeps to compare them, for
// the resident set.
Measured measure(standin::MexFunction fn, int nlhs, const std::vector<const mxArray*>& inputs)
{
    Measured m{standin::call(fn, nlhs, inputs), 0};
    if (m.out.failed) {
        std::fprintf(stderr, "call failed: %s\n", m.out.message.c_str());
        std::exit(1);
    }
    mxArray* slots[2] = {nullptr, nullptr};
    std::vector<const mxArray*> args(inputs);
    const size_t before = status_bytes("VmRSS:");
    reset_peak_rss();
    fn(nlhs, slots, static_cast<int>(args.size()), args.data());
    const size_t peak = status_bytes("VmHWM:");
    m.rss_growth = peak > before ? peak - before : 0;
    for (mxArray* out : slots) mxDestroyArray(out);
    return m;
}

void print_header()
{
    std::printf("%-9s %-4s %9s %8s | %8s %8s %8s | %8s %8s | %8s %6s %6s | %7s\n", "call", "kind",
                "kept", "input", "output", "cand.", "kind", "sum", "at once", "peak", "/sum",
                "/once", "RSS +");
}

// One row, in MiB: what the call needs at least (input, output, candidate list, the kind's
// scratch), added up and as the most needed at once when the search's scratch is released
// before the output is made, against input plus the most the call held at once.
void print_row(const char* call, const char* kind, uint64_t kept, double input, double output,
               double candidates, double kind_scratch, const Measured& m)
{
    const double sum = input + output + candidates + kind_scratch;
    const double at_once = input + std::max(output, candidates + kind_scratch);
    const double peak = input + static_cast<double>(m.out.peak_bytes);
    std::printf("%-9s %-4s %9llu %8.1f | %8.1f %8.1f %8.1f | %8.1f %8.1f | %8.1f %6.3f %6.3f | %7.1f\n",
                call, kind, static_cast<unsigned long long>(kept), mib(input), mib(output),
                mib(candidates), mib(kind_scratch), mib(sum), mib(at_once), mib(peak), peak / sum,
                peak / at_once, mib(static_cast<double>(m.rss_growth)));
}

}  // namespace

int main(int argc, char** argv)
{
    // Every large block its own mapping, returned when freed: the resident set then shows what
    // each call touches, not memory the allocator kept from an earlier one.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    const uint64_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const uint64_t per_column = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20;
    const standin::MexFunction spgauge = standin::load_mex(SPGAUGE_MODULE);
    const standin::MexFunction dropsmall = standin::load_mex(DROPSMALL_MODULE);

    Array a = large_matrix(n, per_column);
    const standin::SparseContents shape = standin::read_sparse(a.get());
    const uint64_t nnz = shape.jc.back();
    const double input = 16.0 * static_cast<double>(nnz) + 8.0 * static_cast<double>(n + 1);
    std::printf("matrix: %llu by %llu, %llu stored entries, %.1f MiB as the host holds it\n\n",
                static_cast<unsigned long long>(n), static_cast<unsigned long long>(n),
                static_cast<unsigned long long>(nnz), mib(input));
    print_header();

    const char* kinds[] = {"fro", "1", "inf"};
    for (const char* kind : kinds) {
        Array kind_arg = std::strcmp(kind, "1") == 0 ? standin::scalar(1.0) : standin::text(kind);
        // spgauge needs its 1-by-1 result and, for the infinity norm, 8 bytes per row.
        const Measured g = measure(spgauge, 1, {a.get(), kind_arg.get()});
        const double row_sums = std::strcmp(kind, "inf") == 0 ? 8.0 * static_cast<double>(n) : 0.0;
        print_row("spgauge", kind, 0, input, 8.0, 0.0, row_sums, g);
        const double norm = standin::first_value(g.out.outputs[0].get());

        // dropsmall's per-kind scratch: none for the Frobenius norm; for the 1-norm a sum, a
        // column number and two counts (24 bytes) for each column, for the infinity norm a sum
        // (8 bytes) for each row; either way about one byte a sum for the tree that ranks them.
        const double sums = static_cast<double>(n);
        const double kind_scratch = std::strcmp(kind, "fro") == 0  ? 0.0
                                    : std::strcmp(kind, "1") == 0 ? 25.0 * sums
                                                                  : 9.0 * sums;
        for (double fraction : {1e-4, 0.3}) {
            Array tol = standin::scalar(fraction * norm), ratio = standin::scalar(0.0);
            const Measured d = measure(dropsmall, 2, {a.get(), tol.get(), kind_arg.get(), ratio.get()});
            const uint64_t kept = standin::read_sparse(d.out.outputs[0].get()).jc.back();
            const double output = 16.0 * static_cast<double>(std::max<uint64_t>(kept, 1)) +
                                  8.0 * static_cast<double>(n + 1) + 8.0;
            print_row("dropsmall", kind, kept, input, output, 4.0 * static_cast<double>(nnz), kind_scratch, d);
        }
    }

    // The row-sum array of the infinity norm takes 8 bytes per row however few entries there are.
    const uint64_t tall_rows = 100000000;
    Array tall = standin::sparse(tall_rows, 1, {0, 3}, {0, 7, tall_rows - 1}, {1.0, -2.0, 3.0});
    Array inf = standin::text("inf");
    const Measured t = measure(spgauge, 1, {tall.get(), inf.get()});
    std::printf("\nspgauge inf of a %llu-by-1 matrix with 3 entries: scratch peak %.1f MiB, RSS +%.1f MiB\n",
                static_cast<unsigned long long>(tall_rows), mib(static_cast<double>(t.out.scratch_peak_bytes)),
                mib(static_cast<double>(t.rss_growth)));
    std::printf("\nMiB. sum = input + output + candidate list (4 bytes per stored entry) + the kind's\n"
                "scratch; at once = input + the larger of the output and the search's scratch, which\n"
                "is released before the output is made; peak = input + the most the call held at\n"
                "once (its scratch and the arrays it created), as the stand-in host counts requested\n"
                "bytes; RSS + = the resident high-water mark during the call over the resident set\n"
                "before it (pages really touched; a zero-filled block costs nothing until written).\n");
    return 0;
}
