#!/bin/sh
# configure_without_test_tools.sh SOURCE WORKDIR: configures and builds SOURCE as a user building
# from source would (cmake -S SOURCE -B WORKDIR/build, default generator), with GoogleTest,
# Google Benchmark, MinGW-w64, clang, valgrind and Wine hidden: the programs are left out of a
# PATH made for the run, CMake's own system search paths are turned off, and the two packages
# are disabled. Fails unless configuring names each skipped tool in one status line and the
# build leaves both Octave extensions, the package archive and both .mexa64 files.
set -u
source=$1 work=$2
rm -rf "$work"
mkdir -p "$work/bin"
for dir in /usr/local/bin /usr/bin /bin; do
  for tool in "$dir"/*; do
    name=${tool##*/}
    case $name in
      *mingw32* | clang* | *-clang* | valgrind* | wine* | llvm-symbolizer) continue ;;
    esac
    [ -e "$work/bin/$name" ] || ln -s "$tool" "$work/bin/$name"
  done
done

PATH=$work/bin cmake -S "$source" -B "$work/build" -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF \
  -DCMAKE_IGNORE_PATH=/usr/lib/wine \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  > "$work/configure.log" 2>&1
status=$?
cat "$work/configure.log"
[ "$status" -eq 0 ] || { echo "FAIL: configuring without the test tools failed"; exit 1; }

failed=0
for skipped in "GoogleTest not found: the unit tests are skipped" \
               "Google Benchmark not found: the benchmarks are skipped" \
               "MinGW-w64 not found: the .mexw64 files and their checks are skipped" \
               "valgrind not found: the memory check of the Octave extensions is skipped" \
               "Compiler is not clang: the fuzz harnesses are skipped"; do
  count=$(grep -c -F -- "$skipped" "$work/configure.log")
  if [ "$count" -ne 1 ]; then
    echo "FAIL: expected one line '$skipped', found $count"
    failed=1
  fi
done

PATH=$work/bin cmake --build "$work/build" -j2 > "$work/build.log" 2>&1
status=$?
tail -n 5 "$work/build.log"
[ "$status" -eq 0 ] || { echo "FAIL: building without the test tools failed (see $work/build.log)"; exit 1; }
for file in octave/spgauge.mex octave/dropsmall.mex octave/dropmost.mex spgauge-0.2.0.tar.gz \
            mexa64/spgauge.mexa64 mexa64/dropsmall.mexa64; do
  if [ ! -f "$work/build/$file" ]; then
    echo "FAIL: the build left no $file"
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "configured and built without GoogleTest, Google Benchmark, MinGW-w64, clang, valgrind and Wine"
