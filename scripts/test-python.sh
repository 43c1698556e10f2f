#!/usr/bin/env bash
# The Python package: installed into a fresh virtual environment with the
# README's offline line, then its pytest suite and the two examples against
# the Linux build's libtrax.so and the simulated controller.
#   scripts/test-python.sh [BUILD_DIR]     (default build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build/linux}")
# Debian's interpreter: another python3 may come first on the PATH.
python=/usr/bin/python3

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_WERROR=ON
fi
cmake --build "$build" --target trax QelUsbDrv traxctl

# The package's type hints hold (it ships py.typed).
mypy --strict --cache-dir "$build/mypy-cache" python/trax

venv=$build/python-venv
rm -rf "$venv"
"$python" -m venv --system-site-packages "$venv"
PIP_DISABLE_PIP_VERSION_CHECK=1 "$venv/bin/pip" install --quiet --no-index --no-build-isolation ./python

# Run from outside the source tree so that the installed package is tested.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$venv/bin/python" -c 'import sys, trax; sys.exit(0 if trax.__file__.startswith(sys.prefix) else "trax not imported from the venv: " + trax.__file__)'
TRAX_LIBRARY=$build/libtrax.so.2 TRAXCTL=$build/tools/traxctl \
  "$venv/bin/python" -m pytest -p no:cacheprovider -q "$root/python/tests"
