#!/usr/bin/env bash
# The Debian packages: built by scripts/build-packages.sh (CPack from the
# install rules in a build of their own: prefix /usr, Debian's hardening
# flags, no run paths), then checked without installing them on this machine:
#   - dpkg-deb --contents of each against the files it must hold;
#   - lintian: errors fail the run, warnings are listed;
#   - dpkg -x of all four into a temporary root, where traxctl values runs
#     against the packaged library and stand-in driver, a program builds and
#     links with the packaged pkg-config file, and the Python package reads
#     values;
#   - the pure wheel of the kits installs into a fresh virtual environment and
#     reads values and a setting.
# The packaged files carry the paths they have once installed (/usr/...), so
# the check points the loader at the root's folders with LD_LIBRARY_PATH and
# pkg-config at the root's trax.pc, whose paths are relative to its own folder.
#   scripts/test-packages.sh [BUILD_DIR]     (default build/deb); the .deb files and the wheel stay in BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build/deb}")
version=$(sed -n 's/^project(Trax VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

scripts/build-packages.sh "$build" > /dev/null

failures=0
fail() { echo "test-packages: $*" >&2; failures=$((failures + 1)); }
deb() { echo "$build/${1}_${version}-1_${2:-$arch}.deb"; }

# ---- contents ------------------------------------------------------------------
contains() {  # PACKAGE ARCH FILE...: each FILE is in the package
  local package=$1 listing
  listing=$(dpkg-deb --contents "$(deb "$1" "$2")" | awk '{ print $6 }')
  shift 2
  for f in "$@"; do
    grep -qx "\./$f" <<< "$listing" || fail "$package lacks /$f"
  done
}
lib=usr/lib/$multiarch
contains libtrax2 "" "$lib/libtrax.so.2" "$lib/libtrax.so.$version" usr/share/doc/libtrax2/copyright
contains libtrax-dev "" usr/include/trax.h "$lib/libtrax.so" "$lib/pkgconfig/trax.pc" "$lib/cmake/Trax/TraxConfig.cmake" \
  "$lib/cmake/Trax/TraxTargets.cmake" usr/share/doc/trax/examples/read_values.c
contains trax-tools "" usr/bin/traxctl usr/bin/traxctl-sim "$lib/trax/simulator/libQelUsbDrv.so" usr/share/doc/trax/simulator.md \
  usr/share/man/man1/traxctl.1.gz usr/share/man/man1/traxctl-sim.1.gz
contains python3-trax all usr/lib/python3/dist-packages/trax/__init__.py usr/lib/python3/dist-packages/trax/settings.tsv \
  usr/lib/python3/dist-packages/trax/py.typed
# The stand-in never sits where the loader looks for the real driver.
dpkg-deb --contents "$(deb trax-tools)" | grep -q "\./$lib/libQelUsbDrv.so" && fail "trax-tools puts the stand-in driver in $lib"
# ldconfig by trigger alone: no maintainer script, so apt-get remove leaves no "rc" state.
for script in postinst postrm; do
  dpkg-deb --info "$(deb libtrax2)" "$script" > /dev/null 2>&1 && fail "libtrax2 has a $script (ldconfig runs by trigger)"
done
dpkg-deb --info "$(deb libtrax2)" triggers | grep -qx 'activate-noawait ldconfig' || fail "libtrax2 lacks its ldconfig trigger"
dpkg-deb --field "$(deb trax-tools)" Depends | grep -q "libtrax2 (= $version-1)" || fail "trax-tools does not depend on its libtrax2"

# ---- lintian -----------------------------------------------------------------------
lintian_out=$(lintian --no-tag-display-limit "$(deb libtrax2)" "$(deb libtrax-dev)" "$(deb trax-tools)" \
  "$(deb python3-trax all)" 2>&1 || true)
if grep -q '^E: ' <<< "$lintian_out"; then
  grep '^E: ' <<< "$lintian_out" >&2
  fail "lintian reports errors"
fi
grep '^W: ' <<< "$lintian_out" | sed 's/^/test-packages: lintian warning: /' || true

# ---- the unpacked packages at work --------------------------------------------------
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for p in libtrax2 libtrax-dev trax-tools; do dpkg -x "$(deb $p)" "$work/root"; done
dpkg -x "$(deb python3-trax all)" "$work/root"
r=$work/root
out=$(env -u TRAX_SIM_STATE LD_LIBRARY_PATH="$r/$lib:$r/$lib/trax/simulator" "$r/usr/bin/traxctl" values) ||
  fail "packaged traxctl values failed: $out"
grep -q '^A  ' <<< "$out" || fail "packaged traxctl values printed: $out"
# traxctl-sim points the loader at the folder the package puts the stand-in in.
sim_dir=$(sed -n 's/^LD_LIBRARY_PATH="\([^$]*\)\$.*/\1/p' "$r/usr/bin/traxctl-sim")
[ -n "$sim_dir" ] && [ -f "$r$sim_dir/libQelUsbDrv.so" ] || fail "traxctl-sim looks for the stand-in in '$sim_dir'"
# Without the stand-in's folder the library must not find a driver: the
# package installs none where the loader looks.
if LD_LIBRARY_PATH="$r/$lib" "$r/usr/bin/traxctl" values > /dev/null 2>&1; then
  fail "packaged traxctl ran without the stand-in's folder: a driver is on the loader's path"
fi

flags=$(PKG_CONFIG_PATH="$r/$lib/pkgconfig" pkg-config --cflags --libs trax)
[ "$(PKG_CONFIG_PATH="$r/$lib/pkgconfig" pkg-config --variable=includedir trax)" -ef "$r/usr/include" ] ||
  fail "trax.pc's includedir is not the package's include folder"
# shellcheck disable=SC2086
cc -Wall -Wextra -Werror examples/read_values.c $flags -Wl,-rpath-link,"$r/$lib/trax/simulator" -o "$work/read_values" || fail "pkg-config build failed"
if [ -x "$work/read_values" ]; then
  LD_LIBRARY_PATH="$r/$lib:$r/$lib/trax/simulator" "$work/read_values" > /dev/null || fail "pkg-config build does not run"
fi

out=$(cd "$work" && LD_LIBRARY_PATH="$r/$lib:$r/$lib/trax/simulator" PYTHONPATH="$r/usr/lib/python3/dist-packages" \
  /usr/bin/python3 -c 'import trax; a, b = trax.Controller().values(); print(trax.__file__, int(a.status), int(b.status))') ||
  fail "packaged Python package failed: $out"
case "$out" in "$r/"*" 0 0") ;; *) fail "packaged Python package printed: $out" ;; esac

# ---- the pure wheel of the kits, in a fresh virtual environment -------------------
wheel=$(scripts/build-wheel.sh "$build")
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
PIP_DISABLE_PIP_VERSION_CHECK=1 "$work/venv/bin/pip" install --quiet --no-index --no-deps "$wheel"
out=$(cd "$work" && env -u TRAX_SIM_STATE TRAX_LIBRARY="$build/libtrax.so.2" "$work/venv/bin/python" -c '
import sys, trax
assert trax.__file__.startswith(sys.prefix), trax.__file__
ctl = trax.Controller()
a, b = ctl.values()
ctl.set("offset", trax.A, 250)
print(int(a.status), int(b.status), ctl.get("offset", trax.A))') || fail "the wheel failed its smoke test: $out"
[ "$out" = "0 0 250" ] || fail "the wheel's smoke test printed: $out"

for p in libtrax2 libtrax-dev trax-tools; do echo "test-packages: $(basename "$(deb $p)")"; done
echo "test-packages: $(basename "$(deb python3-trax all)")"
[ "$failures" -eq 0 ] || exit 1
echo "test-packages: passed"
