#!/usr/bin/env bash
# Builds the trax Python package as a pure wheel (py3-none-any: the same file
# for Linux and both Windows architectures) into OUT_DIR, offline, with
# Debian's setuptools and wheel, and prints the wheel's path.
#   scripts/build-wheel.sh OUT_DIR
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
# The source is copied so that the build leaves nothing in the checkout.
mkdir -p "$work/src" "$out"
mkdir -p "$work/src/client"
cp -r "$source_dir/python" "$work/src/"
cp "$source_dir/client/settings.tsv" "$work/src/client/"
rm -rf "$work/src/python/build" "$work/src/python"/*.egg-info
PIP_DISABLE_PIP_VERSION_CHECK=1 "$work/venv/bin/pip" wheel --quiet --no-index --no-build-isolation --no-deps \
  -w "$work/wheel" "$work/src/python"
wheel=$(ls "$work/wheel"/*.whl)
case $(basename "$wheel") in
  trax-*-py3-none-any.whl) ;;
  *) echo "build-wheel: not a pure wheel: $(basename "$wheel")" >&2; exit 1 ;;
esac
cp "$wheel" "$out/"
echo "$out/$(basename "$wheel")"
