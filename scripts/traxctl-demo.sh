#!/usr/bin/env bash
# A short tour of traxctl against the simulated controller in the stand-in
# driver. Argument: the build directory (default build/linux).
set -euo pipefail
build=$(cd "${1:-build/linux}" && pwd)
traxctl=$build/tools/traxctl
export LD_LIBRARY_PATH=$build:$build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
out=$(mktemp -d "${TMPDIR:-/tmp}/traxctl-demo-XXXXXX")
trap 'rm -rf "$out"' EXIT

step() { printf '\n== %s\n' "$1"; }
run() { printf '$ traxctl %s\n' "$*"; "$traxctl" "$@"; }

step "Measured values of both heads"
run values

# The simulated controller lives inside the traxctl process, so steps that
# build on each other run as one batch.
step "A setting written and read back"
"$traxctl" batch --echo <<'STEPS'
get offset A
set offset A 250
get offset A
values
STEPS

step "A storage run of 200 values per head"
"$traxctl" batch --echo <<STEPS
storage setup --count 200 --cycle 1
storage start
storage status
storage stop
storage read A --max 5
storage read B --csv $out/storage-B.csv
STEPS
echo "(first lines of the CSV)"
head -4 "$out/storage-B.csv"

step "Light-intensity profile of head A"
run light A
