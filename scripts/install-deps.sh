#!/usr/bin/env bash
# Installs the build and test tools on a Debian machine when they are missing.
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev libpugixml-dev
          clang-format g++-mingw-w64-x86-64 wine64 clang libclang-rt-14-dev
          python3-numpy python3-pytest python3-setuptools python3-venv python3-matplotlib mypy)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
