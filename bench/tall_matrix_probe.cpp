// What spgauge(A, 'inf') and dropsmall(A, 1, 'inf', 0) ask of the host for a sparse matrix of
// 2^p rows and 3 columns holding four entries, both loaded from their stand-in builds and called
// as a host calls them. A call that completes prints the most bytes it held at once (scratch
// alone, and scratch plus the arrays it created) and the bytes of all the blocks it asked for.
// A call the host ends prints its message and the largest single block it asked for, found by
// bisecting the stand-in's allocation limit: under a limit the host refuses any larger block at
// once, without trying to allocate it.
//   bench/tall_matrix_probe [p]          (default 40; meant for row counts beyond the machine's
//                                         memory, where every block that large fails at once)
#include "standin.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using standin::Array;

struct Probe {
    standin::Outcome out;
    uint64_t largest_block;  // when the call failed: the largest block it asked for
};

// Whether the call is refused under an allocation limit of `bytes` (1 and up).
bool refused_under(standin::MexFunction fn, int nlhs, const std::vector<const mxArray*>& in,
                   uint64_t bytes)
{
    const long before = standin::allocations_refused();
    standin::set_allocation_limit(bytes);
    standin::call(fn, nlhs, in);
    standin::set_allocation_limit(0);
    return standin::allocations_refused() > before;
}

// The smallest limit the call is not refused under: the largest block it asks for, up to 2^62.
uint64_t largest_block(standin::MexFunction fn, int nlhs, const std::vector<const mxArray*>& in)
{
    uint64_t lo = 1, hi = uint64_t{1} << 62;  // refused under lo (checked below), not under hi
    if (!refused_under(fn, nlhs, in, lo)) return lo;
    while (hi - lo > 1) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (refused_under(fn, nlhs, in, mid))
            lo = mid;
        else
            hi = mid;
    }
    return hi;
}

Probe probe(standin::MexFunction fn, int nlhs, const std::vector<const mxArray*>& in)
{
    Probe p{standin::call(fn, nlhs, in), 0};
    if (p.out.failed) p.largest_block = largest_block(fn, nlhs, in);
    return p;
}

void report(const char* what, const Probe& p)
{
    std::printf("%s\n", what);
    if (p.out.failed) {
        std::printf("  ended by the host: \"%s\"\n", p.out.message.c_str());
        std::printf("  largest block asked for: %" PRIu64 " bytes (%.3g GiB)\n", p.largest_block,
                    static_cast<double>(p.largest_block) / (1024.0 * 1024.0 * 1024.0));
        return;
    }
    std::printf("  completed: most bytes held at once %zu (scratch alone %zu), %zu asked for in all,"
                " %zu host calls\n", p.out.peak_bytes, p.out.scratch_peak_bytes,
                p.out.requested_bytes, p.out.host_calls.size());
}

}  // namespace

int main(int argc, char** argv)
{
    const int p = argc > 1 ? std::atoi(argv[1]) : 40;
    const uint64_t nrows = uint64_t{1} << p;
    const standin::MexFunction spgauge = standin::load_mex(SPGAUGE_MODULE);
    const standin::MexFunction dropsmall = standin::load_mex(DROPSMALL_MODULE);

    // Row 0: 1 and 3; row 5: 0.5; the last row: -2 and 4. Infinity norm 6.
    Array a = standin::sparse(nrows, 3, {0, 2, 3, 4}, {0, nrows - 1, 5, nrows - 1}, {1.0, -2.0, 0.5, 4.0});
    Array inf = standin::text("inf"), tol = standin::scalar(1.0), ratio = standin::scalar(0.0);
    std::printf("A: 2^%d = %" PRIu64 " rows, 3 columns, 4 stored entries\n", p, nrows);

    const Probe g = probe(spgauge, 1, {a.get(), inf.get()});
    report("spgauge(A, 'inf')", g);
    if (!g.out.failed) std::printf("  norm: %.17g\n", standin::first_value(g.out.outputs[0].get()));

    const Probe d = probe(dropsmall, 2, {a.get(), tol.get(), inf.get(), ratio.get()});
    report("dropsmall(A, 1, 'inf', 0)", d);
    if (!d.out.failed)
        std::printf("  kept: %" PRIu64 " entries\n", standin::read_sparse(d.out.outputs[0].get()).jc.back());
    return 0;
}
