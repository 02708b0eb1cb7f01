#!/usr/bin/env bash
# Builds everything and runs every test: a normal build (unit tests, the extensions as shipped,
# the Octave integration tests, packaging and interface checks, the memory check under Octave),
# each fuzz harness for 40 seconds, and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer (unit tests and the stand-in-host extensions). The builds go to
# folders of the test command's own, build-test and build-asan (build-fuzz for the fuzzers), so
# that they neither take up nor depend on the options of a build a user made in build/.
# After each build's tests it lists every test that was skipped, with the reason the test gave.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

# The reason a test gave for its skip, from its output in the CTest log LOG: the message after
# GoogleTest's "file:line: Skipped", or a line of the test's own beginning "skipped: ".
skip_reason() {
  local log=$1 name=$2
  awk -v start="\"$name\" start time:" '
    index($0, start) == 1 { inside = 1; next }
    !inside { next }
    /^<end of output>$/ || /^\[  SKIPPED \]/ { exit }
    after_gtest && NF { print; found = 1; exit }
    /: Skipped$/ { after_gtest = 1 }
    /^skipped: / { print substr($0, 10); found = 1; exit }
    END { if (!found) print "(the test printed no reason)" }
  ' "$log"
}

# Every test the last CTest run in DIR skipped (CTest names them without a reason), one a line
# with its reason.
list_skipped() {
  local dir=$1 names name
  names=$(sed -n '/^The following tests did not run:/,/^$/ s/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' \
          "$dir/ctest.log")
  if [ -z "$names" ]; then
    echo "== no test skipped in $dir"
    return
  fi
  echo "== skipped in $dir ($(wc -l <<< "$names")):"
  while IFS= read -r name; do
    echo "  $name: $(skip_reason "$dir/Testing/Temporary/LastTest.log" "$name")"
  done <<< "$names"
}

# Every tool the tests need is required here: a missing one fails the configure step instead of
# skipping its tests.
run_suite() {
  local dir=$1 status=0
  shift
  "$root/scripts/configure.sh" "$dir" -DBUILD_TESTING=ON -DREQUIRE_TEST_TOOLS=ON "$@" >/dev/null
  cmake --build "$dir" --parallel "$(nproc)"
  (cd "$dir" && ctest --output-on-failure -j2) 2>&1 | tee "$dir/ctest.log" || status=$?
  list_skipped "$dir"
  return "$status"
}

echo "== normal build"
run_suite "$root/build-test" -DCMAKE_BUILD_TYPE=Release
echo "== fuzz harnesses, 40 seconds each"
"$root/scripts/fuzz.sh" 40
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON -DWITH_OCTAVE=OFF
