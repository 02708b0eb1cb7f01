#!/usr/bin/env bash
# Builds the Octave extensions and runs a short demo of them in octave-cli.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build"
octave-cli --no-gui --norc --quiet --eval "addpath('$root/build/octave'); run('$root/scripts/demo.m')"
