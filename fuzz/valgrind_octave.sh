#!/bin/sh
# Runs a script of calls to the Octave extensions once under Valgrind's memcheck and fails when
# the script fails or when memcheck reports an error with a frame in one of the extensions
# (spgauge.mex, dropsmall.mex, dropmost.mex, or their sources when built with debug
# information). Errors inside Octave itself are not the extensions' to answer for.
# Usage: valgrind_octave.sh VALGRIND OCTAVE_CLI EXTENSION_DIR SCRIPT LOG
set -u
valgrind=$1 octave=$2 extensions=$3 script=$4 log=$5

# Valgrind must be able to run Octave itself first. On some virtual CPUs it cannot: the CPU
# hides RDTSCP from its feature list, so valgrind will not decode it, while a library Octave
# loads at start-up executes it anyway. That says nothing of the extensions: the check is
# skipped (CTest reports it as skipped, never as passed) with the reason on one line, and the
# same script of calls still runs in plain Octave (test octave.memcheck_calls).
if ! "$valgrind" --tool=none -q "$octave" --no-gui --norc --no-window-system --no-history \
     --quiet --eval "exit(0)" >"$log.probe" 2>&1; then
  if grep -qE "unhandled instruction|Illegal opcode" "$log.probe"; then
    where=$(grep -m1 -E "unhandled instruction bytes|Illegal opcode" "$log.probe" |
            sed -E 's/^==[0-9]+== +//; s/^vex [^:]*: //; s/(bytes:( 0x[0-9A-Fa-f]+){3}) .*/\1 .../')
    echo "skipped: valgrind cannot run octave-cli on this CPU ($where)"
    grep -m2 -E "Illegal opcode|  at 0x" "$log.probe"
    exit 77
  fi
  echo "valgrind could not start octave-cli:"; cat "$log.probe"; exit 1
fi

start=$(date +%s)
"$valgrind" --tool=memcheck --leak-check=no --num-callers=40 --fullpath-after= --log-file="$log" \
  "$octave" --no-gui --norc --no-window-system --no-history --quiet \
  --eval "addpath('$extensions'); try, run('$script'); catch err, disp(err.message); exit(1); end"
status=$?
echo "memcheck run: $(( $(date +%s) - start )) s, octave exit status $status, log $log"

# memcheck ends each report with a line holding only "==pid== "; print the reports that have a
# stack frame in an extension.
found=$(awk '
  function judge() { if (ours) printf "%s\n", block; block = ""; ours = 0 }
  /^==[0-9]+== $/ { judge(); next }
  { block = block $0 "\n" }
  /^==[0-9]+== +(at|by) 0x/ && /spgauge\.mex|dropsmall\.mex|dropmost\.mex|mexFunction|\/(spgauge|dropsmall|dropmost|sparsify|common)\/[a-z_]+\.(cpp|h)/ { ours = 1 }
  END { judge() }
' "$log")
grep 'ERROR SUMMARY' "$log"
if [ -n "$found" ]; then
  echo "memcheck errors in the extensions:"
  echo "$found"
  exit 1
fi
[ "$status" -eq 0 ] || { echo "the script of calls failed"; exit 1; }
echo "no memcheck error in the extensions"
