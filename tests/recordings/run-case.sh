#!/usr/bin/env bash
# Runs one case of cases.tsv in a fresh folder and writes what it produced
# (exit status, standard output and error, the SHA-256 of every file it wrote)
# to standard output, in the form of NAME.expected.
#
#   run-case.sh TRAXCTL NAME record   against the simulated controller, with
#                                     the case's variables, recording to NAME.jsonl
#   run-case.sh TRAXCTL NAME replay   the stand-in answering from NAME.jsonl
set -euo pipefail
traxctl=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
name=$2
mode=$3
here=$(cd "$(dirname "$0")" && pwd)

line=$(grep -P "^${name}\t" "$here/cases.tsv" || true)
if [ -z "$line" ]; then
  echo "run-case.sh: no case '$name' in cases.tsv" >&2
  exit 2
fi
variables=$(printf '%s' "$line" | cut -f2)
read -r -a arguments <<<"$(printf '%s' "$line" | cut -f3)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here"/*.batch "$work"/
cd "$work"

# Nothing of the caller's environment may change the run: no trace, no state
# file, no fault but the case's own; a fixed clock for the settings file's stamp.
unset TRAX_LOG TRAX_LOG_FILE TRAX_LOG_FORMAT TRAX_LOG_TAP TRAX_RECORD TRAX_ASSERT
for v in $(env | grep -o '^TRAX_SIM_[A-Z_]*' || true); do unset "$v"; done
export SOURCE_DATE_EPOCH=1767225600
environment=()
if [ "$mode" = record ]; then
  [ "$variables" != "-" ] && read -r -a environment <<<"$variables"
  environment+=("TRAX_RECORD=$here/$name.jsonl")
else
  environment+=("TRAX_SIM_REPLAY=$here/$name.jsonl")
fi

status=0
env "${environment[@]}" "$traxctl" "${arguments[@]}" >stdout.txt 2>stderr.txt || status=$?

echo "# $name: traxctl ${arguments[*]}"
echo "exit status: $status"
echo "--- standard output"
cat stdout.txt
echo "--- standard error"
cat stderr.txt
echo "--- files written"
for f in $(ls | sort); do
  case "$f" in stdout.txt | stderr.txt | *.batch) continue ;; esac
  sha256sum "$f"
done
