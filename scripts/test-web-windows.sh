#!/usr/bin/env bash
# traxctl.exe serve under wine (x64): starts it on a free loopback port,
# fetches the page and a few API calls with curl, and stops it.
#   scripts/test-web-windows.sh [BUILD_DIR]      (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build/windows}")
cmake --build "$build" --target traxctl QelUsbDrv
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all
work=$(mktemp -d)
server=
stop() {
  if [ -n "$server" ] && kill -0 "$server" 2> /dev/null; then
    kill -INT "$server" 2> /dev/null || true
    for _ in $(seq 50); do kill -0 "$server" 2> /dev/null || break; sleep 0.1; done
    kill -KILL "$server" 2> /dev/null || true
  fi
  rm -rf "$work"
}
trap stop EXIT

# wine shows the Linux file system as drive Z:.
TRAX_SIM_STATE="Z:${work//\//\\}\\state" \
  "$wine64" "$build/bin/traxctl.exe" serve --port 0 > "$work/out" 2> "$work/err" < /dev/null &
server=$!
address=
for _ in $(seq 300); do
  address=$(grep -o 'http://127.0.0.1:[0-9]*' "$work/out" || true)
  [ -n "$address" ] && break
  kill -0 "$server" 2> /dev/null || { cat "$work/out" "$work/err" >&2; echo "test-web-windows: traxctl.exe ended" >&2; exit 1; }
  sleep 0.1
done
[ -n "$address" ] || { echo "test-web-windows: no address printed" >&2; exit 1; }
echo "traxctl.exe serve at $address"

check() {  # WHAT PATTERN CURL-ARGS...
  local what=$1 pattern=$2
  shift 2
  local body
  body=$(curl -sS --max-time 30 "$@" 2> /dev/null || true)  # the stream ends by its time limit
  if ! grep -q -- "$pattern" <<< "$body"; then
    echo "test-web-windows: $what: expected '$pattern' in: ${body:0:300}" >&2
    exit 1
  fi
  echo "ok  $what"
}
origin=(-H "Origin: $address" -H 'Content-Type: application/json')
check "the page" '<title>traxctl' "$address/"
check "the chart library" 'uPlot' "$address/uPlot.iife.min.js"
check "values" '"status":"valid"' "$address/api/values"
check "light profile" '"profile":\[' "$address/api/light?head=A"
check "a setting written and read back" '"offset":250' -X POST "${origin[@]}" \
  -d '{"setting":"offset","head":"A","values":{"offset":250}}' "$address/api/settings"
check "a foreign Host refused" 'does not name this server' -H 'Host: evil.example' "$address/api/values"
check "the live stream" 'event: values' -N --max-time 3 "$address/api/live"
echo "test-web-windows: passed"
