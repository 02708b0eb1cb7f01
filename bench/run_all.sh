#!/bin/bash
# Every benchmark from a fresh Release build, then the tables and the plot: the one command for
# the figures in docs/performance.md. Run it from the top of the source tree on a quiet machine.
#
#   bench/run_all.sh
#
#   1. scripts/configure.sh build -DCMAKE_BUILD_TYPE=Release (Ninja, or the generator build/
#      already has); cmake --build build -j 2
#   2. sparse_bench, 5 repetitions, aggregates only       -> bench/results/sparse_bench.json
#   3. search_bench, 5 repetitions, aggregates only       -> bench/results/search_bench.json
#   4. bench/octave_bench.m in one octave-cli process     -> bench/results/octave.csv
#      (--norc --no-history; spgauge against norm, median of 9, and the dropsmall comparisons)
#   5. bench/octave_dropmost.m, likewise                  -> bench/results/octave_dropmost.csv
#      (dropmost against a cold dropsmall and the M-code that sorts and bisects)
#   6. bench/dropmost_gain.m (counts, no timing)          -> bench/results/dropmost_gain.md
#   7. bench/plot.py                                      -> bench/results/tables.md, performance.png
# Each program's printed report goes beside its results (*.txt), and machine.txt records the
# commit, lscpu, the cache sizes and the load average before and after.
#
# CXSparse and Eigen join sparse_bench when installed (apt-get install libsuitesparse-dev
# libeigen3-dev); plot.py needs matplotlib (apt-get install python3-matplotlib).
#
# For a short trial, every setting can be changed from the environment:
#   BUILD_DIR (build)  OUT (bench/results)  REPS (5)  MIN_TIME (0.2, seconds per repetition)
#   FILTER (sparse_bench's --benchmark_filter, all)   SEARCH_FILTER (search_bench's, all)
#   OCTAVE_REPS (9)  MATRICES (octave_bench's, M1,M2,M3,M3T,M4,M5)  OCTAVE_PARTS (norms,dropsmall)
#   DROPMOST_MATRICES (octave_dropmost's, M1,M2,M3,M3T,M4,M5,GL,GLW,GLS)  MCODE_REPS (3)
#   SPARSE_BENCH_FAMILY_SIZES (1e4,1e5,1e6: the worst-case families' sizes in sparse_bench)
#   PYTHON (the first python3 that has matplotlib)
# e.g. OUT=/tmp/trial REPS=1 MIN_TIME=0.05 FILTER='/M4/' MATRICES=M4 OCTAVE_REPS=3 bench/run_all.sh
set -euo pipefail

BUILD_DIR=${BUILD_DIR:-build}
OUT=${OUT:-bench/results}
REPS=${REPS:-5}
MIN_TIME=${MIN_TIME:-0.2}
FILTER=${FILTER:-.}
SEARCH_FILTER=${SEARCH_FILTER:-.}
OCTAVE_REPS=${OCTAVE_REPS:-9}
MATRICES=${MATRICES:-M1,M2,M3,M3T,M4,M5}
OCTAVE_PARTS=${OCTAVE_PARTS:-norms,dropsmall}
DROPMOST_MATRICES=${DROPMOST_MATRICES:-M1,M2,M3,M3T,M4,M5,GL,GLW,GLS}
MCODE_REPS=${MCODE_REPS:-3}

if [ ! -f bench/run_all.sh ]; then
    echo "run_all.sh: run me from the top of the source tree" >&2
    exit 1
fi
if [ -z "${PYTHON:-}" ]; then
    for candidate in python3 /usr/bin/python3; do
        if "$candidate" -c "import matplotlib" 2>/dev/null; then
            PYTHON=$candidate
            break
        fi
    done
fi
if [ -z "${PYTHON:-}" ]; then
    echo "run_all.sh: no python3 with matplotlib (apt-get install python3-matplotlib)" >&2
    exit 1
fi
mkdir -p "$OUT"

machine() {
    echo "== $1: $(date -u +%Y-%m-%dT%H:%M:%SZ), load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}

{
    echo "commit $(git rev-parse HEAD 2>/dev/null || echo unknown)"
    machine start
    lscpu
    getconf -a | grep -i CACHE_SIZE || true
} > "$OUT/machine.txt"

scripts/configure.sh "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" -j 2

gbench_flags="--benchmark_repetitions=$REPS --benchmark_report_aggregates_only=true --benchmark_min_time=$MIN_TIME"

# shellcheck disable=SC2086  # the flags are separate words
"$BUILD_DIR/bench/sparse_bench" $gbench_flags --benchmark_filter="$FILTER" \
    --benchmark_out="$OUT/sparse_bench.json" --benchmark_out_format=json | tee "$OUT/sparse_bench.txt"
machine "after sparse_bench" >> "$OUT/machine.txt"

# shellcheck disable=SC2086
"$BUILD_DIR/bench/search_bench" $gbench_flags --benchmark_filter="$SEARCH_FILTER" \
    --benchmark_out="$OUT/search_bench.json" --benchmark_out_format=json | tee "$OUT/search_bench.txt"
machine "after search_bench" >> "$OUT/machine.txt"

octave-cli --norc --no-history bench/octave_bench.m "$BUILD_DIR/octave" "$BUILD_DIR/bench/octave" \
    "$OUT/octave.csv" "$OCTAVE_REPS" "$MATRICES" "$OCTAVE_PARTS" | tee "$OUT/octave.txt"
machine "after octave_bench" >> "$OUT/machine.txt"

octave-cli --norc --no-history bench/octave_dropmost.m "$BUILD_DIR/octave" "$OUT/octave_dropmost.csv" \
    "$OCTAVE_REPS" "$DROPMOST_MATRICES" 1e-6,1e-3,1e-1 "$MCODE_REPS" | tee "$OUT/octave_dropmost.txt"
machine "after octave_dropmost" >> "$OUT/machine.txt"

octave-cli --norc --no-history bench/dropmost_gain.m "$BUILD_DIR/octave" | tee "$OUT/dropmost_gain.md"

l2=$(getconf LEVEL2_CACHE_SIZE 2>/dev/null || echo 0)
"$PYTHON" bench/plot.py --gbench "$OUT/sparse_bench.json" --octave "$OUT/octave.csv" \
    --octave-dropmost "$OUT/octave_dropmost.csv" \
    --png "$OUT/performance.png" --l2-bytes "${l2:-0}" > "$OUT/tables.md"
echo "run_all.sh: tables in $OUT/tables.md, plot in $OUT/performance.png, machine in $OUT/machine.txt"
