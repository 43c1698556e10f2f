#!/usr/bin/env bash
# The Windows part of the test run: cross-build Trax.dll, the stand-in
# QelUsbDrv.dll and the test programs with mingw-w64, then run every test of
# that build through ctest, the programs under wine.
#
#   scripts/test-windows.sh [BUILD_DIR]       (default: build/windows in the checkout)
#
# Environment: JOBS (parallel build and test jobs, default: all processors),
# WINEPREFIX (default: a prefix inside the build folder, created at the first
# run, which takes a few seconds).
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build/windows}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=$(dirname "$wine")/wineserver
for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-dlltool x86_64-w64-mingw32-windres "$wine"; do
  command -v "$tool" > /dev/null || { echo "test-windows: $tool is missing" >&2; exit 1; }
done

# std::thread and std::mutex (used by the test drivers) need the posix thread
# model of the mingw-w64 compilers; winpthreads is then linked statically.
cmake -S "$source_dir" -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
  -DTRAX_MINGW_THREAD_MODEL=posix \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRAX_WERROR=ON \
  -DTRAX_BUILD_BENCH=OFF
cmake --build "$build_dir" -j "$jobs"

# A wine prefix of our own, and one wine server kept running for the whole
# run: otherwise every test program pays for starting the server again.
export WINEPREFIX=${WINEPREFIX:-$build_dir/wine-prefix}
export WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
"$wineserver" -p || true  # a server of this prefix may be running already
trap '"$wineserver" -k 2> /dev/null || true' EXIT
# Create the prefix and start wine's background services here, with their
# output going nowhere: services started by a test program would inherit its
# output pipe and keep ctest waiting for that test until the server ends.
"$wine" cmd /c exit < /dev/null > /dev/null 2>&1 || true

# Test lists are discovered afresh when ctest starts. CMake 3.25 can append a
# rediscovered list to the old one, so old lists go first.
find "$build_dir" -name '*\[1\]_tests.cmake' -delete

# wine now and then fails to start a program or stalls in its own services;
# a test that fails that way gets two more runs. The same tests run natively,
# without retries, in the Linux, sanitizer and thread-checking builds.
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" --repeat until-pass:3
