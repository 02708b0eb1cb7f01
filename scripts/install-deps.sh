#!/usr/bin/env bash
# Installs the Debian packages one job needs; does nothing when all of them are present already.
# Needs root (or sudo) the first time.
# Usage: scripts/install-deps.sh [demo|all]
#   demo  what building the two Octave extensions and running the demo needs: a C++ compiler,
#         CMake, Ninja, Octave and its development files;
#   all   (the default) everything the tests need besides: GoogleTest, make (for pkg install),
#         MinGW-w64 and Wine (the Windows binaries), clang (the fuzzers), valgrind, Google
#         Benchmark and matplotlib (the benchmarks), Eigen and CXSparse (the peers the benchmarks
#         measure against, whose reading of our arrays a test checks).
set -euo pipefail

demo_packages=(g++ cmake ninja-build octave octave-dev)
test_packages=(
  binutils libgtest-dev make
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
  clang libclang-rt-14-dev valgrind
  libbenchmark-dev python3-matplotlib libeigen3-dev libsuitesparse-dev
)

case ${1:-all} in
demo) packages=("${demo_packages[@]}") ;;
all) packages=("${demo_packages[@]}" "${test_packages[@]}") ;;
*) echo "usage: $0 [demo|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
