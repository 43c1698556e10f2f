#!/usr/bin/env bash
# Builds everything and shows the library at work against the simulated controller.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/linux
if [ -x build/linux/tools/traxctl ]; then
  exec scripts/traxctl-demo.sh build/linux
fi
echo "built; traxctl is not part of this build yet"
