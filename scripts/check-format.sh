#!/usr/bin/env bash
# Fails when a C or C++ source of the repository differs from what
# clang-format makes of it (style in .clang-format). Run with --fix to format.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files -- '*.c' '*.h' '*.cpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${sources[@]}"
else
  clang-format --dry-run --Werror "${sources[@]}"
fi
