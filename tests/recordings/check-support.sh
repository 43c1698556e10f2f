#!/usr/bin/env bash
# traxctl support against the simulated controller: one JSON document with
# every part, and the short recording in it replays to its end.
#   check-support.sh TRAXCTL
set -euo pipefail
traxctl=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for v in $(env | grep -o '^TRAX_[A-Z_]*' || true); do unset "$v"; done
printf 'trax [     1.000 ms] thread 1: a line of the trace log\n' >trace.log
"$traxctl" support support.json --log trace.log >printed.txt
grep -q "^wrote support.json" printed.txt
grep -q "recording: 2 exchanges of a values read and a storage status" printed.txt
python3 - <<'PY'
import json
doc = json.load(open("support.json"))
missing = {"format", "version", "versions", "doctor", "settings", "recording", "calls", "trace"} - set(doc)
assert not missing, f"support.json lacks {missing}"
assert doc["format"] == "trax-support" and doc["versions"]["traxctl"] and doc["versions"]["library"]
assert all(check["ok"] for check in doc["doctor"]), doc["doctor"]
assert doc["settings"]["format"] == "trax-settings"
assert doc["trace"]["lines"] == ["trax [     1.000 ms] thread 1: a line of the trace log"]
# Nothing of the host beyond the program's own files: no user or host names.
text = json.dumps(doc)
import getpass, socket
for private in {getpass.getuser(), socket.gethostname()} - {"root", "localhost", ""}:
    assert private not in text, f"support.json names {private!r}"
open("short.jsonl", "w").write("\n".join(doc["recording"]) + "\n")
PY
# The recording's own file is gone; what the support file holds replays.
[ "$(ls | grep -c recording-)" = 0 ]
"$traxctl" replay-check short.jsonl | grep -q "replays to the end: 2 exchanges in 2 calls"
echo "support: every part, and its recording replays"
