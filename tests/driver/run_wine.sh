#!/bin/sh
# run_wine.sh WINE PREFIX PROGRAM [ARGS...]: runs the Windows PROGRAM under Wine with its prefix
# in PREFIX (made on the first start), Wine's own messages off. Arguments that are absolute Unix
# paths are passed as Windows paths on drive Z:, where Wine shows the Unix root. Fails, saying
# why, when Wine cannot start; otherwise exits with the program's status.
set -u
wine=$1 prefix=$2
shift 2
program=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"

if [ ! -x "$wine" ]; then
  echo "FAIL: Wine cannot start: $wine is not an executable program (apt-get install wine64)"
  exit 1
fi
windows_path() {
  case $1 in
    /*) printf 'Z:%s' "$1" | tr '/' '\\' ;;
    *) printf '%s' "$1" ;;
  esac
}
count=$#
for a in "$@"; do set -- "$@" "$(windows_path "$a")"; done
shift "$count"

log=$(mktemp)
"$wine" "$program" "$@" > "$log" 2>&1
status=$?
cat "$log"
# Wait for the Wine server to go, so that nothing holds the test's output open.
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] && WINEPREFIX="$prefix" "$wineserver" -w
if [ "$status" -ne 0 ] && ! grep -q -e 'usage: ' -e 'cases passed' -e '^FAIL' "$log"; then
  echo "FAIL: Wine could not run $program (exit status $status); its output is above"
  rm -f "$log"
  exit 1
fi
rm -f "$log"
exit "$status"
