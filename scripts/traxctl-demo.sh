#!/usr/bin/env bash
# A short tour of traxctl against the simulated controller in the stand-in
# driver. Argument: the build directory (default build/linux).
set -euo pipefail
build=$(cd "${1:-build/linux}" && pwd)
traxctl=$build/tools/traxctl
export LD_LIBRARY_PATH=$build:$build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
out=$(mktemp -d "${TMPDIR:-/tmp}/traxctl-demo-XXXXXX")
trap 'rm -rf "$out"' EXIT
# The simulated controller lives inside each traxctl process; with
# TRAX_SIM_STATE it keeps its settings and stored data in a file between
# runs, as a real controller does, so each step below is its own command.
# Without the variable, steps that build on each other go into one
# `traxctl batch` (the last step).
export TRAX_SIM_STATE=$out/controller-state.txt

step() { printf '\n== %s\n' "$1"; }
run() { printf '$ traxctl %s\n' "$*"; "$traxctl" "$@"; }

step "Measured values of both heads"
run values --unit mm

step "A setting written and read back"
run get offset A
run set offset A 250
run get offset A
run values

step "A storage run of 200 values per head"
run storage setup --count 200 --cycle 1
run storage start
run storage status
run storage stop
run storage read A --max 5
run storage read B --csv "$out/storage-B.csv"
echo "(first lines of the CSV)"
head -4 "$out/storage-B.csv"

step "The whole setup in one settings file, changed, compared and put back"
run settings save "$out/setup.json"
run set able-min-max B 20 80
run settings diff "$out/setup.json" || true
run settings load "$out/setup.json"
run settings diff "$out/setup.json" || true

step "Light-intensity profile of head A"
run light A

step "Why a call returned 0: traxctl's error line, then the trace log, with a controller that refuses the measured values"
printf '$ TRAX_SIM_ERROR_REPLY=7 traxctl values --unit mm\n'
TRAX_SIM_ERROR_REPLY=7 "$traxctl" values --unit mm 2>&1 | grep -v '^trax-sim' || true
printf '$ TRAX_SIM_ERROR_REPLY=7 traxctl --trace values --unit mm\n'
TRAX_SIM_ERROR_REPLY=7 "$traxctl" --trace values --unit mm 2>&1 | grep -v '^trax-sim' || true

step "Each link from traxctl to the controller, checked in order"
run doctor
printf '$ TRAX_SIM_STARTUP_FAIL=1 traxctl doctor\n'
TRAX_SIM_STARTUP_FAIL=1 "$traxctl" doctor 2>&1 | grep -v '^trax-sim' || true

step "The same steps in one process, without a state file"
unset TRAX_SIM_STATE
"$traxctl" batch --echo <<'STEPS'
set offset A 250
get offset A
STEPS
