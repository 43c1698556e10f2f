#!/usr/bin/env bash
# traxctl publish against a real mosquitto (anonymous, then a password file
# and TLS with certificates made by openssl), checked by an independent
# subscriber, with broker outages and controller faults; traxctl serve's
# /metrics scraped by a real prometheus. Every server on a free loopback port.
#   scripts/test-publish.sh [BUILD_DIR]        (default build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build/linux}")
missing=()
for program in mosquitto mosquitto_passwd prometheus openssl; do
  command -v "$program" > /dev/null || [ -x "/usr/sbin/$program" ] || missing+=("$program")
done
/usr/bin/python3 -c 'import paho.mqtt.client' 2> /dev/null || missing+=(python3-paho-mqtt)
if [ ${#missing[@]} -gt 0 ]; then
  echo "test-publish: skipped: this machine lacks ${missing[*]} (scripts/install-deps.sh mqtt)"
  exit 0
fi
cmake --build "$build" --target traxctl QelUsbDrv
traxctl=$build/tools/traxctl
if ! "$traxctl" publish --help > /dev/null 2>&1; then
  echo "test-publish: $traxctl was built without publish (libmosquitto-dev missing at configure time)" >&2
  exit 1
fi
TRAXCTL=$traxctl /usr/bin/python3 -m pytest -p no:cacheprovider -q tests/publish
