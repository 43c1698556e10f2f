#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks what is there, and builds and
# runs an outside program against it: with find_package(Trax) and with
# pkg-config.  Arguments: build dir, consumer source dir, CMake generator, C compiler.
set -euo pipefail
build=$1 consumer=$2 generator=$3 cc=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/trax-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in include/trax.h lib/libtrax.so lib/libtrax.so.2 lib/libtrax.so.2.2.0 lib/libQelUsbDrv.so bin/traxctl \
         lib/cmake/Trax/TraxConfig.cmake lib/cmake/Trax/TraxConfigVersion.cmake lib/pkgconfig/trax.pc \
         share/doc/trax/examples/read_values.c share/doc/trax/examples/storage_to_csv.c share/doc/trax/simulator.md; do
  [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
# Debian's own files (copyright, changelogs, manual pages) go into packages, not into a prefix.
for f in share/doc/libtrax2 share/doc/trax-tools share/man/man1/traxctl-sim.1.gz; do
  [ ! -e "$prefix/$f" ] || { echo "a Debian-only file installed into the prefix: $f"; exit 1; }
done
soname=$(objdump -p "$prefix/lib/libtrax.so.2.2.0" | awk '/SONAME/ {print $2}')
[ "$soname" = libtrax.so.2 ] || { echo "SONAME is '$soname'"; exit 1; }

# The installed traxctl runs from the prefix alone.
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/traxctl" values)
echo "$out" | grep -q '^A  ' || { echo "installed traxctl printed: $out"; exit 1; }

# find_package(Trax)
cmake -S "$consumer" -B "$work/cmake-build" -G "$generator" -DCMAKE_C_COMPILER="$cc" \
      -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
out=$("$work/cmake-build/consumer")
echo "find_package: $out"
[[ $out =~ ^A\ 0\ -?[0-9]+\.[0-9]{3}\ B\ 0\ -?[0-9]+\.[0-9]{3}$ ]] || exit 1

# pkg-config
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs trax)
[ "$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion trax)" = 2.2.0 ] || exit 1
# shellcheck disable=SC2086
"$cc" -Wall -Wextra -Werror "$consumer/main.c" $flags -o "$work/pc-consumer"
out=$(LD_LIBRARY_PATH="$prefix/lib" "$work/pc-consumer")
echo "pkg-config: $out"
[[ $out =~ ^A\ 0\ -?[0-9]+\.[0-9]{3}\ B\ 0\ -?[0-9]+\.[0-9]{3}$ ]] || exit 1

# The installed examples build against the kit alone.
for example in read_values storage_to_csv; do
  # shellcheck disable=SC2086
  "$cc" -Wall -Wextra -Werror "$prefix/share/doc/trax/examples/$example.c" $flags -o "$work/$example"
done
grep -q TRAX_SIM_FAIL_AFTER "$prefix/share/doc/trax/simulator.md" || { echo "simulator.md incomplete"; exit 1; }
# A kit whose driver file is gone: traxctl still starts, and says why.
mv "$prefix/lib/libQelUsbDrv.so" "$work/driver-aside.so"
set +e
doctor=$(env -u LD_LIBRARY_PATH "$prefix/bin/traxctl" doctor 2>&1); doctor_status=$?
version=$(env -u LD_LIBRARY_PATH "$prefix/bin/traxctl" --version 2>&1); version_status=$?
values=$(env -u LD_LIBRARY_PATH "$prefix/bin/traxctl" values 2>&1); values_status=$?
set -e
mv "$work/driver-aside.so" "$prefix/lib/libQelUsbDrv.so"
echo "doctor without the driver: $doctor"
[ "$doctor_status" = 1 ] && [[ $doctor == "FAIL  library: libQelUsbDrv.so: cannot open shared object file"* ]] ||
  { echo "doctor without the driver: status $doctor_status"; exit 1; }
[ "$version_status" = 1 ] && [[ $version == *"the library did not load: libQelUsbDrv.so: cannot open"* ]] ||
  { echo "--version without the driver: status $version_status: $version"; exit 1; }
[ "$values_status" = 1 ] && [[ $values == *"TRAX_GetCalcData failed: the library did not load: libQelUsbDrv.so"* ]] ||
  { echo "values without the driver: status $values_status: $values"; exit 1; }
echo "install test passed"
