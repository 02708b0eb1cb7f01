#!/usr/bin/env bash
# Builds everything and runs every test: a normal build (unit tests, the extensions as shipped,
# the Octave integration tests, packaging and interface checks, the memory check under Octave),
# each fuzz harness for a minute, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer (unit tests and the stand-in-host extensions).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

# Every tool the tests need is required here: a missing one fails the configure step instead of
# skipping its tests.
run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DBUILD_TESTING=ON -DREQUIRE_TEST_TOOLS=ON "$@" >/dev/null
  cmake --build "$dir"
  (cd "$dir" && ctest --output-on-failure -j2)
}

echo "== normal build"
run_suite "$root/build" -DCMAKE_BUILD_TYPE=Release
echo "== fuzz harnesses, one minute each"
"$root/scripts/fuzz.sh" 60
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON -DWITH_OCTAVE=OFF
