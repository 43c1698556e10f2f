#!/usr/bin/env bash
# Replays one recording of cases.tsv and wants exactly what its recorded run
# produced (NAME.expected): exit status, traxctl's text, the files it wrote.
#   check-recording.sh TRAXCTL NAME
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
"$here/run-case.sh" "$1" "$2" replay >"$actual"
if ! diff -u "$here/$2.expected" "$actual"; then
  echo "check-recording.sh: the replay of $2.jsonl differs from its recorded run (above: - recorded, + replayed)" >&2
  exit 1
fi
echo "$2: the replay gives the recorded run's results"
