#!/bin/sh
# run_demo.sh ROOT BUILD: runs the demo on the extensions built in BUILD and fails when it fails
# or when any line of its output begins with "error".
set -u
root=$1 build=$2
log=$build/demo.log
bash "$root/scripts/demo.sh" --no-setup "$build" > "$log" 2>&1
status=$?
cat "$log"
if grep -n '^error' "$log"; then
  echo "FAIL: the demo printed the error line(s) above"
  exit 1
fi
[ "$status" -eq 0 ] || { echo "FAIL: the demo exited with status $status"; exit 1; }
echo "demo ran with no error line ($(wc -l < "$log") lines of output)"
