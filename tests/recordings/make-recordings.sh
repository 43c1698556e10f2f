#!/usr/bin/env bash
# Makes the recordings of cases.tsv anew against the simulated controller and
# the stand-in driver of a build: NAME.jsonl and NAME.expected for each case.
# Run it when the library, the simulated controller or traxctl change what
# goes over the wire or what traxctl prints, and commit what changed.
#
#   tests/recordings/make-recordings.sh [build/linux]
# The case with a lost reply waits out the library's 10-second reply limit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/linux}
traxctl=$build/tools/traxctl
[ -x "$traxctl" ] || { echo "make-recordings.sh: no traxctl in $build (build it first)" >&2; exit 2; }
grep -v '^#' "$here/cases.tsv" | cut -f1 | while read -r name; do
  [ -n "$name" ] || continue
  echo "recording $name"
  "$here/run-case.sh" "$traxctl" "$name" record >"$here/$name.expected"
done
