#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need; does nothing when all of
# them are present already. Needs root (or sudo) the first time.
set -euo pipefail

packages=(
  g++ cmake ninja-build binutils
  libgtest-dev
  octave liboctave-dev
  make
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  clang libclang-rt-14-dev valgrind
  libbenchmark-dev python3-matplotlib
)

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
