#!/usr/bin/env bash
# Configures the source tree in a build folder for the scripts that build. A new folder gets
# Ninja; a folder CMake has configured before keeps the generator it has (the README's own
# `cmake -S . -B build` takes CMake's default), since CMake refuses to change it in place.
# Usage: scripts/configure.sh BUILD_DIR [CMAKE OPTIONS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
generator=()
[ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$root" -B "$dir" "${generator[@]}" "$@"
