#!/usr/bin/env bash
# The main job: builds the Linux library, the stand-in driver with the
# simulated controller and traxctl, nothing else (no tests, benchmarks or
# Windows builds), and shows the library at work against the simulated
# controller. Installs only the packages that takes (install-deps.sh linux).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
# build/linux is also the test build: scripts/test.sh turns its tests back on.
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_BUILD_TESTS=OFF -DTRAX_BUILD_BENCH=OFF
cmake --build build/linux --target trax QelUsbDrv traxctl
exec scripts/traxctl-demo.sh build/linux
