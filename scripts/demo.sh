#!/usr/bin/env bash
# Builds the three Octave extensions and runs a short demo of them in octave-cli. On a fresh Debian
# machine it first installs what that needs (a C++ compiler, CMake, Ninja, Octave and its
# development files) and builds nothing else.
# Usage: scripts/demo.sh                   install, build in build/, run the demo
#        scripts/demo.sh --no-setup BUILD  run the demo on the extensions in BUILD/octave
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--no-setup" ]; then
  build=$(cd "$2" && pwd)
else
  build=$root/build
  "$root/scripts/install-deps.sh" demo
  # build/ is shared with the README's cmake commands: its generator and options are kept.
  "$root/scripts/configure.sh" "$build" >/dev/null
  cmake --build "$build" --parallel "$(nproc)" --target spgauge_octave dropsmall_octave dropmost_octave
fi
# --no-history: Octave would otherwise try to save its command history at exit and print an
# error line where it cannot, which reads like a failed demo.
octave-cli --no-gui --norc --no-window-system --no-history --quiet \
  --eval "addpath('$build/octave'); run('$root/scripts/demo.m')"
