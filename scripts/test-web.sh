#!/usr/bin/env bash
# traxctl serve: the API and its refusals over HTTP, the page in Debian's
# headless chromium (screenshots and measured figures in BUILD_DIR/web), and
# a short bounded load check.
#   scripts/test-web.sh [BUILD_DIR]        (default build/linux)
# LOAD_SECONDS: length of the load check (default 10; the full check is 60).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build/linux}")
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_WERROR=ON
fi
# The chart library and the browser driver, pinned by web/package-lock.json.
(cd web && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
cmake --build "$build" --target traxctl QelUsbDrv
traxctl=$build/tools/traxctl
if ! "$traxctl" serve --help > /dev/null; then
  echo "test-web: $traxctl was built without serve (see the configure warning)" >&2
  exit 1
fi
mkdir -p "$build/web"

echo "== test-web: API and security"
TRAXCTL=$traxctl /usr/bin/python3 -m pytest -p no:cacheprovider -q tests/server

echo "== test-web: the page in headless chromium"
TRAXCTL=$traxctl OUT=$build/web node --test web/tests/

echo "== test-web: load check (${LOAD_SECONDS:-10} s)"
bench/web_load.py "$traxctl" --seconds "${LOAD_SECONDS:-10}" | tee "$build/web/load-check.json"
