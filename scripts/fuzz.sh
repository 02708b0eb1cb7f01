#!/usr/bin/env bash
# Builds the fuzz harnesses with clang (libFuzzer, AddressSanitizer, UBSan) in build-fuzz and runs
# each for a bounded time, starting from its seed corpus in fuzz/corpus/<harness>/. Inputs the
# fuzzer finds go to build-fuzz/fuzz/corpus-<harness>/ (kept between runs, never in git); a
# finding stops the run with a non-zero status and leaves its input beside them.
# Usage: scripts/fuzz.sh [seconds per harness, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$root/build-fuzz
"$root/scripts/install-deps.sh"

CC=clang CXX=clang++ "$root/scripts/configure.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DWITH_OCTAVE=OFF -DWITH_MATLAB=OFF -DBUILD_TESTING=OFF >/dev/null
harnesses=()
for h in fuzz_spgauge fuzz_dropsmall fuzz_dropmost; do
  [ -f "$root/fuzz/$h.cpp" ] && harnesses+=("$h")
done
cmake --build "$build" --parallel "$(nproc)" --target "${harnesses[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for h in "${harnesses[@]}"; do
  work=$build/fuzz/corpus-$h
  mkdir -p "$work"
  echo "== $h for $seconds s"
  # -timeout: any single call taking 10 s counts as a hang.
  set +e
  "$build/fuzz/$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz/$h-" "$work" "$root/fuzz/corpus/$h" 2>&1 |
    grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE)|^"|^###### '
  status=${PIPESTATUS[0]}
  set -e
  [ "$status" -eq 0 ] || { echo "$h found a fault: see the input written above"; exit 1; }
done
echo "fuzzing: ${#harnesses[@]} harnesses ran $seconds s each without a finding"
