#!/usr/bin/env bash
# traxctl.exe and an example under wine, as a Windows user runs them: a few
# commands with their output, files and exit codes (the Linux build tests
# every command).
#
# usage: traxctl-smoke.sh WORK_DIR TRAXCTL_EXE READ_VALUES_EXE EMULATOR...
set -u
work=$1 traxctl=$2 read_values=$3
shift 3
emulator=("$@")
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

# run STATUS PATTERN PROGRAM ARGS...: the exit status must be STATUS and the
# output (line ends made Unix) must match the extended regex PATTERN.
out=""
run() {
  local want=$1 pattern=$2 status
  shift 2
  "${emulator[@]}" "$@" > out.raw 2> err.txt < /dev/null
  status=$?
  out=$(tr -d '\r' < out.raw)
  [ "$status" -eq "$want" ] || fail "$(basename "$1") ${*:2}: exit status $status, expected $want: $(cat err.txt)"
  grep -Eq -- "$pattern" <<< "$out" || fail "$(basename "$1") ${*:2} printed: $out"
}

# Fresh simulated controller in every process.
run 0 '^A  1\.235( mm)?$' "$traxctl" values
run 0 '^B  -2\.009( mm)?$' "$traxctl" values
run 0 '"status": *"valid"' "$traxctl" values --json
run 0 '^ +1 +A +-?[0-9]+\.[0-9]+ +B +-?[0-9]' "$read_values" 2 0

# The controller keeps its settings in a state file between processes.
export TRAX_SIM_STATE=state.txt
run 0 '^offset +A +250$' "$traxctl" set offset A 250
run 0 '^offset +A +250$' "$traxctl" get offset A
run 0 '"setting": *"offset"' "$traxctl" get offset A --json

# A storage run read into a CSV file, in one process.
printf 'storage setup --count 200\nstorage start\nstorage stop\nstorage read A --csv run.csv\n' > storage.txt
run 0 'wrote run\.csv' "$traxctl" batch storage.txt
if [ -f run.csv ]; then
  rows=$(tr -d '\r' < run.csv | grep -cE '^[0-9]+,[a-z-]+,[^,]*,[a-z]*$')
  # Comment lines (head, unit, count, capture times) come before the column names.
  [ "$(tr -d '\r' < run.csv | grep -v '^#' | head -1)" = "index,status,value,unit" ] ||
    fail "run.csv header: $(grep -v '^#' run.csv | head -1)"
  grep -q '^# head: A' run.csv || fail "run.csv does not name its head"
  [ "$rows" -eq 200 ] || fail "run.csv holds $rows value rows, not 200"
else
  fail "no run.csv written"
fi
unset TRAX_SIM_STATE

# Exit codes: 2 for wrong input (nothing sent), 1 for a failed library call,
# whose error line gives the library's reason.
run 2 '' "$traxctl" get offset C
TRAX_SIM_ERROR_REPLY=12 run 1 '' "$traxctl" values
grep -q 'TRAX_GetCalcData failed: refused by the controller (error reply, error 12, command 20)' err.txt ||
  fail "values with an error reply said: $(cat err.txt)"

# --trace shows the log on the console (standard error), as on Linux.
run 0 '^A  ' "$traxctl" --trace values
grep -q 'TRAX_GetCalcData(valueA=0x[0-9a-f]*, valueB=0x[0-9a-f]*) = 1 in ' err.txt || fail "--trace wrote: $(cat err.txt)"

# doctor, and a library that refuses to load: traxctl.exe still starts and says why.
run 0 '^ok    storage: ' "$traxctl" doctor
TRAX_SIM_STARTUP_FAIL=1 run 1 "^FAIL  library: Trax.dll refused to load: the USB driver's start-up failed" "$traxctl" doctor
TRAX_SIM_STARTUP_FAIL=1 run 1 '^traxctl 2' "$traxctl" --version
grep -q 'the library did not load' err.txt || fail "--version with a failed start-up said: $(cat err.txt)"
# (WINEPATH, which finds the 32-bit stand-in driver, is a folder on PATH for Windows.)
mkdir -p no-driver && cp "$traxctl" "$(dirname "$traxctl")/Trax.dll" no-driver/
winepath_was=${WINEPATH-}
unset WINEPATH
run 1 '^FAIL  driver: the USB driver was not found; searched, in this order: 1\. ' no-driver/traxctl.exe doctor
# ... and what to try without hardware: the kit's simulated controller.
grep -Eq 'simulator\\x(64|86)\\QelUsbDrv\.dll' <<< "$out" || fail "doctor without a driver names no simulator: $out"
[ -z "$winepath_was" ] || export WINEPATH=$winepath_was

# The current folder is never searched: with traxctl.exe alone in its folder
# and Trax.dll and its driver in a folder on PATH, copies planted in the
# current folder are not the ones loaded.
bin=$(cd "$(dirname "$traxctl")" && pwd)
driver=$bin/QelUsbDrv.dll
[ -f "$driver" ] || driver=${winepath_was#Z:}/QelUsbDrv.dll
mkdir -p plant/program plant/on-path plant/current
cp "$traxctl" plant/program/
cp "$bin/Trax.dll" "$driver" plant/on-path/
cp "$bin/Trax.dll" "$driver" plant/current/
(
  cd plant/current || exit 1
  WINEPATH="Z:$work/plant/on-path" "${emulator[@]}" ../program/traxctl.exe doctor > ../doctor.raw 2>&1 < /dev/null
)
doctor=$(tr -d '\r' < plant/doctor.raw)
grep -Eiq '^ok +library: .*plant.on-path.Trax\.dll' <<< "$doctor" || fail "Trax.dll not taken from PATH: $doctor"
grep -Eiq '^ok +driver: .*plant.on-path.QelUsbDrv\.dll' <<< "$doctor" || fail "the driver not taken from PATH: $doctor"
grep -iq 'plant.current' <<< "$doctor" && fail "a DLL planted in the current folder was loaded: $doctor"

# The reason tap leaves nothing in the temporary folder, however many runs
# fail (the library's file is deleted when its last handle closes).
temp_files() {
  find "${WINEPREFIX:-$HOME/.wine}/drive_c/users" -type f \( -name 'trax-tap-*' -o -name 'trx*.tmp' \) 2> /dev/null |
    wc -l
}
before=$(temp_files)
for _ in $(seq 20); do
  TRAX_SIM_ERROR_REPLY=7 run 1 '' "$traxctl" values
  grep -q 'refused by the controller (error reply, error 7, command 20)' err.txt || fail "a run lost its reason: $(cat err.txt)"
done
after=$(temp_files)
echo "temporary folder: $before tap file(s) before 20 failing runs, $after after"
[ "$after" -eq "$before" ] || fail "20 failing runs left $((after - before)) file(s) in the temporary folder"

if [ "$failures" -ne 0 ]; then
  echo "$failures traxctl check(s) failed" >&2
  exit 1
fi
echo "traxctl checks passed"
