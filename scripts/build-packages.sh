#!/usr/bin/env bash
# The Debian packages, built and not tested: a build of their own (prefix
# /usr, Debian's hardening flags, no run paths, the stand-in driver in a
# private folder), then CPack. scripts/test-packages.sh runs this first and
# then checks what comes out.
#   scripts/build-packages.sh [BUILD_DIR]     (default build/deb); prints the .deb files made
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build/deb}")

# Debian's hardening flags, as a package build would use them (CMake reads no
# CPPFLAGS: the preprocessor's go with the compilers').
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$CFLAGS $CPPFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS $CPPFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" \
  -DTRAX_BUILD_TESTS=OFF -DTRAX_BUILD_BENCH=OFF -DTRAX_INSTALL_RPATH=OFF -DTRAX_SIMULATOR_APART=ON \
  -DTRAX_PYTHON_INSTALL_DIR=lib/python3/dist-packages > /dev/null
cmake --build "$build" >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB > /dev/null)
ls "$build"/*.deb
