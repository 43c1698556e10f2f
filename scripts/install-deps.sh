#!/usr/bin/env bash
# Installs the build and test tools on a Debian machine when they are missing.
set -euo pipefail

# Windows: mingw-w64 for 64-bit and 32-bit, wine for both (wine32 comes from
# Debian's i386 architecture), llvm-dlltool and llvm-nm for the MSVC import
# libraries of the kit, lld-link to check them the way MSVC's linker reads them.
packages=(cmake ninja-build g++ make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev libpugixml-dev
          clang-format g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine32:i386 llvm lld clang libclang-rt-14-dev
          python3-numpy python3-pytest python3-setuptools python3-wheel python3-venv python3-matplotlib mypy)
# traxctl serve (web): Boost.Beast (header-only), node and npm for the page's
# packages, Debian's chromium for the browser tests.
packages+=(libboost-dev nodejs npm chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
