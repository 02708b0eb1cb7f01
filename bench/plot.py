#!/usr/bin/env python3
"""Tables and a plot from the benchmarks' output.

    python3 bench/plot.py --gbench sparse_bench.json --octave octave.csv \
        --png bench/results/performance.png > bench/results/tables.md

--gbench: Google Benchmark's --benchmark_format=json output of sparse_bench (medians are taken
over repetitions); --octave: the CSV written by octave_bench.m. Either may be left out. Prints
Markdown tables of nanoseconds per stored entry and writes a PNG: each operation beside its
floor and beside what Octave offers for it.
"""

import argparse
import csv
import json
import statistics
import sys
from collections import defaultdict

MATRICES = ["M1", "M2", "M3", "M3T"]
KINDS = ["fro", "one", "inf"]
CASES = [f"{k}_{t}_{s}" for k in KINDS for t in ("1e-3", "1e-1") for s in ("cold", "warm")]
NORM_FLOOR = {"fro": "sum_of_squares", "one": "column_sums", "inf": "row_scatter"}


def read_gbench(path):
    """Median ns per entry of every benchmark, by name without the /manual_time suffix."""
    with open(path) as f:
        data = json.load(f)
    runs = defaultdict(list)
    medians = {}
    for b in data["benchmarks"]:
        name = b["name"].replace("/manual_time", "")
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
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


def norm_tables(g, o):
    lines = ["### Norms (ns per stored entry)", "",
             "| matrix | norm | kernel | floor | kernel / floor | spgauge in Octave | Octave `norm` | spgauge / `norm` |",
             "|---|---|---:|---:|---:|---:|---:|---:|"]
    for m in MATRICES:
        for k in KINDS:
            kern = g.get(f"kernel/{k}/{m}")
            flo = g.get(f"floor/{NORM_FLOOR[k]}/{m}")
            ours = o.get((m, f"spgauge_{k}"))
            theirs = o.get((m, f"norm_{k}"))
            if kern is None and ours is None:
                continue
            lines.append(f"| {m} | {k} | {fmt(kern)} | {fmt(flo)} | {fmt(ratio(kern, flo))} | "
                         f"{fmt(ours)} | {fmt(theirs)} | {fmt(ratio(ours, theirs))} |")
    return lines


def drop_tables(g, o):
    lines = ["### dropsmall in C++ (ns per stored entry)", "",
             "Floor: the sequential sum of squares plus the copy of values and row indices. "
             "Alloc: the host creating B and touching its pages; end to end: the whole call "
             "through the stand-in host.", "",
             "| matrix | case | search | copy | search + copy | floor | (search + copy) / floor | alloc | end to end |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    for m in MATRICES:
        flo = None
        if f"floor/sum_of_squares/{m}" in g and f"floor/copy/{m}" in g:
            flo = g[f"floor/sum_of_squares/{m}"] + g[f"floor/copy/{m}"]
        for c in CASES:
            s, cp = g.get(f"search/{c}/{m}"), g.get(f"copy/{c}/{m}")
            if s is None or cp is None:
                continue
            lines.append(f"| {m} | {c} | {fmt(s)} | {fmt(cp)} | {fmt(s + cp)} | {fmt(flo)} | "
                         f"{fmt(ratio(s + cp, flo))} | {fmt(g.get(f'alloc/{c}/{m}'))} | "
                         f"{fmt(g.get(f'dropsmall/{c}/{m}'))} |")
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


def plot(g, o, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(len(MATRICES), 2, figsize=(15, 3.2 * len(MATRICES)))
    colours = {"ours (C++)": "#1f77b4", "floor (C++)": "#7f7f7f", "ours in Octave": "#2ca02c",
               "Octave: norm or fixed filter": "#d62728", "sort-based (Octave)": "#9467bd"}
    for row, m in enumerate(MATRICES):
        left, right = axes[row][0], axes[row][1]
        groups = []
        for k in KINDS:
            groups.append((k, {"ours (C++)": g.get(f"kernel/{k}/{m}"),
                               "floor (C++)": g.get(f"floor/{NORM_FLOOR[k]}/{m}"),
                               "ours in Octave": o.get((m, f"spgauge_{k}")),
                               "Octave: norm or fixed filter": o.get((m, f"norm_{k}"))}))
        draw_groups(left, groups, colours, log=False)
        left.set_title(f"{m}: spgauge vs norm(A, kind)")
        groups = []
        flo = None
        if f"floor/sum_of_squares/{m}" in g and f"floor/copy/{m}" in g:
            flo = g[f"floor/sum_of_squares/{m}"] + g[f"floor/copy/{m}"]
        for c in CASES:
            if not c.endswith("cold"):
                continue
            s, cp = g.get(f"search/{c}/{m}"), g.get(f"copy/{c}/{m}")
            bars = {"ours (C++)": None if s is None or cp is None else s + cp,
                    "floor (C++)": flo,
                    "ours in Octave": o.get((m, f"dropsmall_{c}")),
                    "Octave: norm or fixed filter": o.get((m, f"filter_{c}"))}
            if c.startswith("fro_"):
                bars["sort-based (Octave)"] = o.get((m, "sortsparsify_fro_" + c.split("_")[1]))
            groups.append((c.replace("_cold", ""), bars))
        draw_groups(right, groups, colours, log=True)
        right.set_title(f"{m}: dropsmall (cold) vs the fixed-threshold filter and the sort")
    for ax in axes[-1]:
        ax.set_xlabel("ns per stored entry")
    handles = [plt.Rectangle((0, 0), 1, 1, color=c) for c in colours.values()]
    fig.legend(handles, list(colours), loc="upper center", ncol=len(colours))
    fig.tight_layout(rect=(0, 0, 1, 0.97))
    fig.savefig(path, dpi=90)


def draw_groups(ax, groups, colours, log):
    names = list(colours)
    height = 0.8 / len(names)
    for gi, (label, bars) in enumerate(groups):
        for bi, name in enumerate(names):
            v = bars.get(name)
            if v is None:
                continue
            y = gi + (bi - (len(names) - 1) / 2) * height
            ax.barh(y, v, height=height, color=colours[name])
            ax.text(v, y, f" {v:.2f}", va="center", fontsize=7)
    ax.set_yticks(range(len(groups)))
    ax.set_yticklabels([label for label, _ in groups])
    ax.invert_yaxis()
    if log:
        ax.set_xscale("log")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--gbench", help="sparse_bench --benchmark_format=json output")
    p.add_argument("--octave", help="CSV written by octave_bench.m")
    p.add_argument("--png", help="where to write the plot")
    args = p.parse_args()
    g, context = read_gbench(args.gbench) if args.gbench else ({}, {})
    o = read_octave(args.octave) if args.octave else {}
    out = []
    if context:
        out += [f"Google Benchmark context: {context.get('num_cpus')} CPUs at "
                f"{context.get('mhz_per_cpu')} MHz, load average "
                f"{', '.join(f'{x:.2f}' for x in context.get('load_avg', []))}", ""]
    if g or o:
        out += norm_tables(g, o) + [""]
    if g:
        extra = [f"add latency {fmt(g.get('floor/add_latency'))}"]
        for m in MATRICES:
            if f"floor/sum_of_squares_plain/{m}" in g:
                extra.append(f"{m}: plain sum of squares {fmt(g[f'floor/sum_of_squares_plain/{m}'])}, "
                             f"reading the values {fmt(g.get(f'floor/read_values/{m}'))}")
        out += ["Hardware references (ns per entry): " + "; ".join(extra) + ".", ""]
        out += drop_tables(g, o) + [""]
    if o:
        out += octave_drop_table(o) + [""]
    sys.stdout.write("\n".join(out))
    if args.png:
        plot(g, o, args.png)


if __name__ == "__main__":
    main()
