#!/usr/bin/env python3
"""Tables and a plot from the benchmarks' output.

    python3 bench/plot.py --gbench sparse_bench.json --octave octave.csv \
        --png bench/results/performance.png > bench/results/tables.md

--gbench: Google Benchmark's --benchmark_format=json output of sparse_bench (medians are taken
over repetitions, or read from the median aggregates); --octave: the CSV written by
octave_bench.m; --octave-dropmost: the CSV written by octave_dropmost.m. Any may be left out. Prints Markdown tables of nanoseconds per stored entry
and writes a PNG: kernels and peers as bars, each limit as a mark across its group.

A read limit is the fastest way sparse_bench found to read the bytes a norm must read (limit/read
over its ways); the Frobenius norm's limit is the larger of its read and of one dependent addition
per entry (limit/add_chain). A dropsmall case's limit is limit/drop: values and row indices read
once, the kept ones written once.
"""

import argparse
import csv
import json
import statistics
import sys
from collections import defaultdict

MATRICES = ["M1", "M2", "M3", "M3T", "M4", "M5"]
# Rows and columns, as bench_matrices.cpp and octave_bench.m build them.
SHAPES = {"M1": (2250000, 2250000), "M2": (1000000, 1000000), "M3": (1000, 1000000),
          "M3T": (1000000, 1000), "M4": (1000, 1000000), "M5": (1000000, 1000000)}
KINDS = ["fro", "one", "inf"]
TOLS = ["1e-6", "1e-3", "1e-1"]
CASES = [f"{k}_{t}_{s}" for k in KINDS for t in TOLS for s in ("cold", "warm")]
OCTAVE_DROPMOST_MATRICES = MATRICES + ["GL", "GLW", "GLS"]
FAMILIES = ["idle", "quadratic", "rowcount", "random"]
READ_SET = {"fro": "pr", "one": "pr_jc", "inf": "pr_ir"}
READ_WAYS = ["stream", "prefetch", "avx2"]
COPY_WAYS = ["memcpy", "stream"]
PLAIN_LOOP = {"fro": "sum_of_squares", "one": "column_sums", "inf": "row_scatter"}
PEERS = [("cxsparse", "CXSparse"), ("eigen", "Eigen")]
# The targets: the 1-norm within 1.5 times its limit everywhere, the infinity norm within 2.5
# times where the row sums fit in L2; dropsmall cold starts within 2.5 times; in Octave,
# spgauge at least 1.5 times faster than norm.
ONE_TARGET, INF_TARGET, DROP_TARGET, OCTAVE_TARGET = 1.5, 2.5, 2.5, 1.5
# dropmost: its search within 2 times a cold dropsmall search on the same case (C++); in Octave
# the whole call within 1.5 times a cold dropsmall call and at least 10 times faster than the
# M-code that sorts the magnitudes and bisects.
SPARSEST_TARGET, OCTAVE_DROPMOST_TARGET, MCODE_TARGET = 2.0, 1.5, 10.0


def read_gbench(path):
    """Median ns per entry of every benchmark, by name without the /manual_time suffix."""
    with open(path) as f:
        data = json.load(f)
    runs = defaultdict(list)
    medians = {}
    for b in data["benchmarks"]:
        name = b["name"].replace("/manual_time", "")
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median" and "ns_per_entry" in b:
                medians[name.rsplit("_median", 1)[0]] = b["ns_per_entry"]
        elif "ns_per_entry" in b:
            runs[name].append(b["ns_per_entry"])
    for name, values in runs.items():
        medians.setdefault(name, statistics.median(values))
    return medians, data.get("context", {})


def read_octave(path):
    """ns per entry (CPU time) of every operation, by (matrix, operation)."""
    out = {}
    with open(path) as f:
        for row in csv.DictReader(f):
            out[(row["matrix"], row["operation"])] = 1e9 * float(row["cpu_seconds"]) / int(row["nnz"])
    return out


def fmt(x, digits=2):
    return "-" if x is None else f"{x:.{digits}f}"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def fastest(g, names):
    """(ns, name) of the fastest of the benchmarks named, or (None, None) if none ran."""
    found = [(g[n], n) for n in names if n in g]
    return min(found) if found else (None, None)


def read_limit(g, m, kind):
    """(ns, way) of the fastest read of the bytes the norm must read."""
    ns, name = fastest(g, [f"limit/read/{READ_SET[kind]}/{w}/{m}" for w in READ_WAYS])
    return ns, None if name is None else name.split("/")[3]


def norm_limit(g, m, kind):
    """(ns, what bounds it): the read limit, or for 'fro' the larger of it and the add chain."""
    read, _ = read_limit(g, m, kind)
    chain = g.get(f"limit/add_chain/{m}") if kind == "fro" else None
    if read is None and chain is None:
        return None, None
    if chain is not None and (read is None or chain > read):
        return chain, "add chain"
    return read, "read"


def copy_limit(g, m):
    ns, name = fastest(g, [f"limit/copy/{w}/{m}" for w in COPY_WAYS])
    return ns, None if name is None else name.split("/")[2]


def target_note(kind, m, kern_vs_limit, l2_bytes):
    """Whether the C++ kernel meets its target on m ('met', 'missed', or why none applies)."""
    if kern_vs_limit is None or kind == "fro":
        return "-"
    if kind == "one":
        return "met" if kern_vs_limit <= ONE_TARGET else "missed"
    rowsum_bytes = 8 * SHAPES[m][0]
    if l2_bytes and rowsum_bytes > l2_bytes:
        return f"row sums {rowsum_bytes / 2**20:.0f} MiB > L2"
    return "met" if kern_vs_limit <= INF_TARGET else "missed"


def limit_table(g):
    lines = ["### Limits (ns per stored entry)", "",
             "The fastest of the ways sparse_bench reads (or copies) the same arrays; the way "
             "that won in brackets. pr: values; jc: column offsets; ir: row indices.", "",
             "| matrix | read pr | read pr + jc | read pr + ir | add chain | copy pr + ir |",
             "|---|---:|---:|---:|---:|---:|"]
    for m in MATRICES:
        cells = []
        for kind in KINDS:
            ns, way = read_limit(g, m, kind)
            cells.append("-" if ns is None else f"{ns:.2f} ({way})")
        cells.append(fmt(g.get(f"limit/add_chain/{m}")))
        ns, way = copy_limit(g, m)
        cells.append("-" if ns is None else f"{ns:.2f} ({way})")
        if any(c != "-" for c in cells):
            lines.append(f"| {m} | " + " | ".join(cells) + " |")
    return lines


def norm_table(g, l2_bytes):
    lines = ["### Norms in C++ (ns per stored entry)", "",
             "Limit: 'one' reads pr and jc, 'inf' pr and ir, 'fro' the larger of reading pr and "
             "one dependent addition per entry. Target: 'one' within "
             f"{ONE_TARGET}x of its limit, 'inf' within {INF_TARGET}x where the row sums fit in L2.",
             "",
             "| matrix | norm | limit | bound by | kernel | kernel / limit | target | plain loop | "
             "plain / limit | CXSparse | CXSparse / limit | Eigen | Eigen / limit | spgauge (stand-in) |",
             "|---|---|---:|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"]
    for m in MATRICES:
        for k in KINDS:
            limit, bound = norm_limit(g, m, k)
            kern = g.get(f"kernel/{k}/{m}")
            plain = g.get(f"plain/{PLAIN_LOOP[k]}/{m}")
            if kern is None and limit is None:
                continue
            cells = [fmt(limit), bound or "-", fmt(kern), fmt(ratio(kern, limit)),
                     target_note(k, m, ratio(kern, limit), l2_bytes), fmt(plain),
                     fmt(ratio(plain, limit))]
            for lib, _ in PEERS:
                peer = g.get(f"peer/{lib}/{k}/{m}")
                cells += [fmt(peer), fmt(ratio(peer, limit))]
            cells.append(fmt(g.get(f"spgauge/{k}/{m}")))
            lines.append(f"| {m} | {k} | " + " | ".join(cells) + " |")
    return lines


def octave_norm_table(o):
    lines = ["### Norms in Octave (ns per stored entry, CPU time)", "",
             "spgauge and `norm` in one process, each timed over a block of its own calls; "
             f"target: `norm` / spgauge at least {OCTAVE_TARGET}.", "",
             "| matrix | norm | spgauge | Octave `norm` | `norm` / spgauge | target |",
             "|---|---|---:|---:|---:|---|"]
    for m in MATRICES:
        for k in KINDS:
            ours, theirs = o.get((m, f"spgauge_{k}")), o.get((m, f"norm_{k}"))
            if ours is None:
                continue
            r = ratio(theirs, ours)
            met = "-" if r is None else "met" if r >= OCTAVE_TARGET else "missed"
            lines.append(f"| {m} | {k} | {fmt(ours)} | {fmt(theirs)} | {fmt(r)} | {met} |")
    return lines


def drop_plain(g, m):
    s, c = g.get(f"plain/sum_of_squares/{m}"), g.get(f"plain/copy/{m}")
    return None if s is None or c is None else s + c


def drop_table(g):
    lines = ["### dropsmall in C++ (ns per stored entry)", "",
             "Limit: values and row indices read once, the kept ones written once (the fastest "
             "read and copy). Plain: the plain sum of squares plus the memcpy of values and row "
             f"indices. Target: cold starts within {DROP_TARGET}x of the limit. Alloc: the host "
             "creating B and touching its pages; end to end: the whole call through the stand-in "
             "host.", "",
             "| matrix | case | search | copy | search + copy | limit | (search + copy) / limit | "
             "target | plain | (search + copy) / plain | alloc | end to end |",
             "|---|---|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|"]
    for m in MATRICES:
        plain = drop_plain(g, m)
        for c in CASES:
            s, cp = g.get(f"search/{c}/{m}"), g.get(f"copy/{c}/{m}")
            if s is None or cp is None:
                continue
            limit = g.get(f"limit/drop/{c}/{m}")
            r = ratio(s + cp, limit)
            met = "-"
            if c.endswith("cold") and r is not None:
                met = "met" if r <= DROP_TARGET else "missed"
            lines.append(f"| {m} | {c} | {fmt(s)} | {fmt(cp)} | {fmt(s + cp)} | {fmt(limit)} | "
                         f"{fmt(r)} | {met} | {fmt(plain)} | {fmt(ratio(s + cp, plain))} | "
                         f"{fmt(g.get(f'alloc/{c}/{m}'))} | {fmt(g.get(f'dropsmall/{c}/{m}'))} |")
    return lines


def octave_drop_table(o):
    lines = ["### dropsmall in Octave (ns per stored entry, CPU time)", "",
             "Filter: `A .* (abs(A) > t)` at the threshold dropsmall ended on; sort: the exact "
             "sort-based Frobenius sparsifier at the same tol.", "",
             "| matrix | case | dropsmall | filter | dropsmall / filter | sort | dropsmall / sort |",
             "|---|---|---:|---:|---:|---:|---:|"]
    for m in MATRICES:
        for c in CASES:
            d, f = o.get((m, f"dropsmall_{c}")), o.get((m, f"filter_{c}"))
            if d is None:
                continue
            sort = None
            if c.startswith("fro_"):
                sort = o.get((m, "sortsparsify_fro_" + c.split("_")[1]))
            lines.append(f"| {m} | {c} | {fmt(d)} | {fmt(f)} | {fmt(ratio(d, f))} | {fmt(sort)} | "
                         f"{fmt(ratio(d, sort), 3)} |")
    lines += ["", "### What the host costs in Octave (ns per stored entry, CPU time)", "",
              "| matrix | dropsmall keeping all (tol 0) | keeping none (tol Inf) | host copy probe |",
              "|---|---:|---:|---:|"]
    for m in MATRICES:
        row = [o.get((m, op)) for op in ("dropsmall_keep_all", "dropsmall_keep_none", "host_copy_probe")]
        if any(x is not None for x in row):
            lines.append(f"| {m} | " + " | ".join(fmt(x) for x in row) + " |")
    return lines


def met(r, target, at_most=True):
    if r is None:
        return "-"
    return "met" if (r <= target if at_most else r >= target) else "missed"


def dropmost_table(g):
    lines = ["### dropmost in C++ (ns per stored entry)", "",
             "Sparsest: find_sparsest_drop alone; search: dropsmall's cold search on the same "
             "matrix, kind and tol (candidate list touched); read limit: reading the arrays the "
             "kind reads (pr for 'fro', pr + jc for 'one', pr + ir for 'inf'). End to end: the "
             "whole call through the stand-in host, dropmost and a cold dropsmall. Target: "
             f"sparsest within {SPARSEST_TARGET}x of the cold search.", "",
             "| matrix | case | sparsest | search (cold) | sparsest / search | target | "
             "read limit | sparsest / read | dropmost | dropsmall (cold) | dropmost / dropsmall |",
             "|---|---|---:|---:|---:|---|---:|---:|---:|---:|---:|"]
    for m in MATRICES:
        for k in KINDS:
            for t in TOLS:
                c = f"{k}_{t}"
                sp = g.get(f"sparsest/{c}/{m}")
                if sp is None:
                    continue
                se = g.get(f"search/{c}_cold/{m}")
                limit, _ = read_limit(g, m, k)
                whole, small = g.get(f"dropmost/{c}/{m}"), g.get(f"dropsmall/{c}_cold/{m}")
                r = ratio(sp, se)
                lines.append(f"| {m} | {c} | {fmt(sp)} | {fmt(se)} | {fmt(r)} | "
                             f"{met(r, SPARSEST_TARGET)} | {fmt(limit)} | {fmt(ratio(sp, limit))} | "
                             f"{fmt(whole)} | {fmt(small)} | {fmt(ratio(whole, small))} |")
    return lines


def family_table(g):
    """dropmost over the cold search on the worst-case families, one row per family and size."""
    cases = [f"{k}_{t}" for k in KINDS for t in TOLS]
    lines = ["### dropmost on the worst-case families (sparsest / cold search)", "",
             "Each family in both orientations (the groups in columns, 'one', or in rows, "
             "'inf'), n stored entries; each cell the time of find_sparsest_drop over that of "
             "dropsmall's cold search with the same kind and tol (fraction of the kind's norm). "
             f"Target: at most {SPARSEST_TARGET}.", "",
             "| family | n | " + " | ".join(cases) + " | worst |",
             "|---|---:|" + "---:|" * (len(cases) + 1)]
    sizes = sorted({int(n.split("/")[3]) for n in g if n.startswith("sparsest/")
                    and n.split("/")[1] in FAMILIES})
    for fam in FAMILIES:
        for orient in ("one", "inf"):
            for n in sizes:
                cells = [ratio(g.get(f"sparsest/{fam}/{orient}/{n}/{c}"),
                               g.get(f"search_cold/{fam}/{orient}/{n}/{c}")) for c in cases]
                if all(x is None for x in cells):
                    continue
                worst = max(x for x in cells if x is not None)
                lines.append(f"| {fam}/{orient} | {n} | " + " | ".join(fmt(x) for x in cells) +
                             f" | {fmt(worst)} |")
    return lines


def octave_dropmost_table(o):
    lines = ["### dropmost in Octave (ns per stored entry, CPU time)", "",
             "The whole call against a cold dropsmall call with the same tol (target: within "
             f"{OCTAVE_DROPMOST_TARGET}x) and against the M-code that sorts the distinct "
             "magnitudes and bisects with spgauge (target: at least "
             f"{MCODE_TARGET:g}x faster); beside it the same M-code bisecting over the "
             "magnitudes at or below tol alone.", "",
             "| matrix | case | dropmost | dropsmall (cold) | dropmost / dropsmall | target | "
             "M-code | M-code / dropmost | target | M-code (<= tol) | its / dropmost |",
             "|---|---|---:|---:|---:|---|---:|---:|---|---:|---:|"]
    for m in OCTAVE_DROPMOST_MATRICES:
        for k in KINDS:
            for t in TOLS:
                c = f"{k}_{t}"
                d = o.get((m, f"dropmost_{c}"))
                if d is None:
                    continue
                s, ref = o.get((m, f"dropsmall_{c}_cold")), o.get((m, f"sortbisect_{c}"))
                small = o.get((m, f"sortbisect_small_{c}"))
                r1, r2 = ratio(d, s), ratio(ref, d)
                lines.append(f"| {m} | {c} | {fmt(d)} | {fmt(s)} | {fmt(r1)} | "
                             f"{met(r1, OCTAVE_DROPMOST_TARGET)} | {fmt(ref)} | {fmt(r2, 1)} | "
                             f"{met(r2, MCODE_TARGET, at_most=False)} | {fmt(small)} | "
                             f"{fmt(ratio(small, d), 1)} |")
    return lines


BAR_COLOURS = {"kernel (C++)": "#1f77b4", "CXSparse": "#ff7f0e", "Eigen": "#8c564b",
               "plain loop (C++)": "#c7c7c7", "ours in Octave": "#2ca02c",
               "Octave: norm or fixed filter": "#d62728", "sort-based (Octave)": "#9467bd"}


def plot(g, o, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.lines import Line2D

    shown = [m for m in MATRICES
             if any(k[0] == m for k in o) or any(n.endswith(f"/{m}") for n in g)]
    height = 3.6 * len(shown) + 0.8
    fig, axes = plt.subplots(len(shown), 2, figsize=(15, height), squeeze=False)
    for row, m in enumerate(shown):
        left, right = axes[row]
        groups = []
        for k in KINDS:
            bars = {"kernel (C++)": g.get(f"kernel/{k}/{m}"),
                    "CXSparse": g.get(f"peer/cxsparse/{k}/{m}"),
                    "Eigen": g.get(f"peer/eigen/{k}/{m}"),
                    "plain loop (C++)": g.get(f"plain/{PLAIN_LOOP[k]}/{m}"),
                    "ours in Octave": o.get((m, f"spgauge_{k}")),
                    "Octave: norm or fixed filter": o.get((m, f"norm_{k}"))}
            marks = [("read limit", read_limit(g, m, k)[0], "-")]
            if k == "fro":
                marks.append(("add-chain limit", g.get(f"limit/add_chain/{m}"), "--"))
            groups.append((k, bars, marks))
        draw_groups(left, groups, log=False)
        left.set_title(f"{m} {SHAPES[m][0]:g} x {SHAPES[m][1]:g}: norms")
        groups = []
        for c in CASES:
            if not c.endswith("cold"):
                continue
            s, cp = g.get(f"search/{c}/{m}"), g.get(f"copy/{c}/{m}")
            bars = {"kernel (C++)": None if s is None or cp is None else s + cp,
                    "ours in Octave": o.get((m, f"dropsmall_{c}")),
                    "Octave: norm or fixed filter": o.get((m, f"filter_{c}"))}
            if c.startswith("fro_"):
                bars["sort-based (Octave)"] = o.get((m, "sortsparsify_fro_" + c.split("_")[1]))
            marks = [("read + write limit", g.get(f"limit/drop/{c}/{m}"), "-")]
            groups.append((c.replace("_cold", ""), bars, marks))
        draw_groups(right, groups, log=True)
        right.set_title(f"{m}: dropsmall cold (C++: search + copy) vs the filter and the sort")
    for ax in axes[-1]:
        ax.set_xlabel("ns per stored entry")
    handles = [plt.Rectangle((0, 0), 1, 1, color=c) for c in BAR_COLOURS.values()]
    handles += [Line2D([0], [0], color="black", lw=2, ls="-"),
                Line2D([0], [0], color="black", lw=2, ls="--")]
    labels = list(BAR_COLOURS) + ["limit (read, or read + write)", "add-chain limit ('fro')"]
    fig.legend(handles, labels, loc="upper center", ncol=5)
    fig.tight_layout(rect=(0, 0, 1, 1 - 0.8 / height))
    fig.savefig(path, dpi=90)


def draw_groups(ax, groups, log):
    """Horizontal bars, one group per label; each limit a black mark across its group."""
    names = list(BAR_COLOURS)
    for gi, (label, bars, marks) in enumerate(groups):
        present = [n for n in names if bars.get(n) is not None]
        height = 0.8 / max(len(present), 1)
        for bi, name in enumerate(present):
            v = bars[name]
            y = gi + (bi - (len(present) - 1) / 2) * height
            ax.barh(y, v, height=height, color=BAR_COLOURS[name])
            ax.text(v, y, f" {v:.2f}", va="center", fontsize=7)
        # The first mark labelled above its group, a second one below it.
        for mi, (text, v, style) in enumerate(marks):
            if v is None:
                continue
            ax.vlines(v, gi - 0.45, gi + 0.45, colors="black", linestyles=style, linewidth=2)
            y, va = (gi - 0.47, "bottom") if mi == 0 else (gi + 0.47, "top")
            ax.text(v, y, f" {text} {v:.2f}", fontsize=7, ha="left", va=va)
    ax.set_yticks(range(len(groups)))
    ax.set_yticklabels([label for label, _, _ in groups])
    ax.invert_yaxis()
    if log:
        ax.set_xscale("log")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--gbench", help="sparse_bench --benchmark_format=json output")
    p.add_argument("--octave", help="CSV written by octave_bench.m")
    p.add_argument("--octave-dropmost", help="CSV written by octave_dropmost.m")
    p.add_argument("--png", help="where to write the plot")
    p.add_argument("--l2-bytes", type=int, default=0,
                   help="the L2 cache per core, to tell where the infinity norm's target applies")
    args = p.parse_args()
    g, context = read_gbench(args.gbench) if args.gbench else ({}, {})
    o = read_octave(args.octave) if args.octave else {}
    od = read_octave(args.octave_dropmost) if args.octave_dropmost else {}
    out = []
    if context:
        out += [f"Google Benchmark context: {context.get('num_cpus')} CPUs at "
                f"{context.get('mhz_per_cpu')} MHz, load average "
                f"{', '.join(f'{x:.2f}' for x in context.get('load_avg', []))}", ""]
    if g:
        out += limit_table(g) + [""] + norm_table(g, args.l2_bytes) + [""]
        extra = []
        for m in MATRICES:
            if f"plain/sum_of_squares_unprefetched/{m}" in g:
                extra.append(f"{m} {fmt(g[f'plain/sum_of_squares_unprefetched/{m}'])}")
        if extra:
            out += ["The sum of squares without prefetching (ns per entry): " + "; ".join(extra) + ".", ""]
    if any(op.startswith("spgauge_") for _, op in o):
        out += octave_norm_table(o) + [""]
    if any(name.startswith("search/") for name in g):
        out += drop_table(g) + [""]
    if any(op.startswith("dropsmall_") for _, op in o):
        out += octave_drop_table(o) + [""]
    if any(name.startswith("sparsest/") and name.count("/") == 2 for name in g):
        out += dropmost_table(g) + [""]
    if any(name.startswith("sparsest/") and name.count("/") == 4 for name in g):
        out += family_table(g) + [""]
    if od:
        out += octave_dropmost_table(od) + [""]
    sys.stdout.write("\n".join(out))
    if args.png:
        plot(g, o, args.png)


if __name__ == "__main__":
    main()
