#!/usr/bin/env bash
# Installs the Debian packages of the named groups when they are missing.
#
#   scripts/install-deps.sh [GROUP...]      (default: all)
#
# A new group is one more line in the table below.
set -euo pipefail

# group    packages
table='
linux     cmake ninja-build g++ nlohmann-json3-dev
tests     make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev clang-format
python    python3-numpy python3-pytest python3-setuptools python3-wheel python3-venv python3-matplotlib python3-pandas mypy
windows   g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine32:i386 llvm lld
fuzz      clang libclang-rt-14-dev llvm
bindings  mono-mcs mono-runtime
packages  dpkg-dev file lintian pkg-config python3-venv python3-setuptools python3-wheel
web       libboost-dev nlohmann-json3-dev nodejs npm chromium
mqtt      libmosquitto-dev libssl-dev mosquitto mosquitto-clients prometheus python3-paho-mqtt openssl
'
#   linux     the library, the simulated controller and traxctl (scripts/demo.sh)
#   tests     the Linux test suite, the benchmarks and the format check
#   python    the Python package, its tests and type check
#   windows   mingw-w64 for 64-bit and 32-bit Windows and wine for both (wine32
#             comes from Debian's i386 architecture; a machine that cannot add
#             it goes on without, and its 32-bit programs are built and checked
#             but not run); llvm-dlltool and llvm-nm for the MSVC import
#             libraries of the kit, lld-link to check them as MSVC's linker reads them
#   fuzz      clang with libFuzzer and the sanitizers' run-time
#   bindings  Mono's C# compiler and run time for the .NET binding's test program
#   packages  CPack's Debian packages (dpkg-shlibdeps, dpkg-buildflags, file),
#             lintian to check them, and what the wheel is built with
#   web       traxctl serve: Boost.Beast (header-only), node and npm for the
#             page's packages (web/package-lock.json), Debian's chromium for
#             the browser tests
#   mqtt      traxctl publish: libmosquitto (MQTT 5, TLS through OpenSSL); the
#             real mosquitto broker, its clients, prometheus, paho and openssl
#             for the publish and metrics tests

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(all)
packages=()
for group in "${groups[@]}"; do
  if [ "$group" = all ]; then
    row=$(awk 'NF > 1 { $1 = ""; print }' <<< "$table")
  else
    row=$(awk -v g="$group" '$1 == g { $1 = ""; print }' <<< "$table")
    [ -n "$row" ] || { echo "install-deps: no group '$group' (groups: $(awk 'NF { printf "%s ", $1 }' <<< "$table")all)" >&2; exit 2; }
  fi
  read -r -a more <<< "$(echo $row)"
  packages+=("${more[@]}")
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | awk '!seen[$0]++'); do
  # Node.js may come from another source than Debian's (whose npm package
  # then conflicts with it): a working node and npm on the PATH will do.
  case $p in nodejs | npm) command -v "${p/nodejs/node}" > /dev/null && continue ;; esac
  dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
apt_install() { DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "$@"; }

# Packages of another architecture (wine32:i386) are installed apart: where
# the architecture cannot be added or its packages cannot be had, the rest is
# installed all the same.
native=() foreign=() added=()
for p in "${missing[@]}"; do
  case $p in *:*) foreign+=("$p") ;; *) native+=("$p") ;; esac
done
for arch in $(printf '%s\n' "${foreign[@]}" | sed -n 's/.*://p' | sort -u); do
  if [ "$arch" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    if "${sudo_cmd[@]}" dpkg --add-architecture "$arch"; then
      added+=("$arch")
    else
      echo "install-deps: the $arch architecture cannot be added here" >&2
    fi
  fi
done
echo "installing: ${missing[*]}"
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
# True when the update failed for foreign architectures' indexes alone (a
# mirror mid-sync often serves a broken i386 index for a while): every
# "Failed to fetch" names a binary-ARCH index of a foreign architecture.
foreign_indexes_only() {
  local archs failed
  archs=$(dpkg --print-foreign-architectures | paste -sd '|' -)
  [ -n "$archs" ] || return 1
  failed=$(grep 'Failed to fetch' "$update_log") || return 1
  ! grep -Evq "/binary-($archs)/" <<< "$failed"
}
skip_foreign=0
if ! "${sudo_cmd[@]}" apt-get update 2>&1 | tee "$update_log"; then
  if [ ${#added[@]} -gt 0 ]; then
    # An architecture that the package sources do not carry fails the update:
    # take it back out and go on with the native packages.
    for arch in "${added[@]}"; do "${sudo_cmd[@]}" dpkg --remove-architecture "$arch" || true; done
    "${sudo_cmd[@]}" apt-get update
  elif foreign_indexes_only; then
    # Added by an earlier run: the native indexes are fresh, so the native
    # packages are installed and the foreign ones left for another day.
    echo "install-deps: the package index of $(dpkg --print-foreign-architectures | paste -sd ' ' -) could not be" \
      "fetched; going on without ${foreign[*]:-its packages}" >&2
    skip_foreign=1
  else
    exit 1
  fi
fi
[ ${#native[@]} -eq 0 ] || apt_install "${native[@]}"
available=()
for p in "${foreign[@]}"; do
  if [ "$skip_foreign" -eq 1 ]; then
    echo "install-deps: going on without $p" >&2
  elif [ "${p##*:}" = "$(dpkg --print-architecture)" ] || dpkg --print-foreign-architectures | grep -qx "${p##*:}"; then
    available+=("$p")
  else
    echo "install-deps: going on without $p" >&2
  fi
done
if [ ${#available[@]} -gt 0 ] && ! apt_install "${available[@]}"; then
  echo "install-deps: going on without ${available[*]}, which could not be installed" >&2
fi
[ ${#foreign[@]} -eq 0 ] || [ ${#foreign[@]} -eq ${#available[@]} ] \
  || echo "install-deps: without wine32:i386, 32-bit Windows programs are built and checked, not run" >&2
