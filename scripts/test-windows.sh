#!/usr/bin/env bash
# The Windows part of the test run: cross-build Trax.dll, the stand-in
# QelUsbDrv.dll, traxctl.exe and the test programs with mingw-w64 for 64-bit
# and 32-bit Windows, run every test of each build through ctest (the programs
# under wine), then write the Windows kit. Stages:
#   x64          build/windows: the whole suite
#   x86          build/windows-x86: the whole suite against the __stdcall
#                stand-in driver, then the tests that load the driver again
#                against the __cdecl one
#   x86-cdecl    build/windows-x86-cdecl: the __cdecl variant of Trax.dll,
#                built and smoke-tested (identity, loading, calls)
#   package      scripts/package-windows.sh: dist/trax-<version>-windows.zip,
#                then each architecture's traxctl.exe from the unpacked kit
#
# Some machines of our kind run 64-bit programs only: their kernel refuses
# every 32-bit one ("Exec format error"), the 32-bit wine loader included. The
# run finds out at its start by running a tiny 32-bit program under that
# loader. Where it cannot run, the three 32-bit builds are still made whole and
# their files checked without wine (exports and ordinals, each export's stack
# clean-up, imports, version resource: tests/win/check-dll-identity.sh), the kit
# is written and checked, and only the steps that start a 32-bit program are
# left out; the stage times and the last line say so.
#
#   scripts/test-windows.sh [BUILD_ROOT]       (default: build/ in the checkout)
#
# Environment: JOBS (parallel build and test jobs, default: all processors);
# WINEPREFIX (default: BUILD_ROOT/wine-prefix, made afresh by each run, which
# takes a few seconds); TRAX_TEST_RUN_WIN32=0 takes this machine for one that
# cannot run 32-bit programs.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_root=${1:-$source_dir/build}
jobs=${JOBS:-$(nproc 2> /dev/null || echo 2)}
source "$source_dir/scripts/windows-builds.sh"

wine64=$(command -v wine64 || true)
[ -n "$wine64" ] || wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=$(dirname "$wine64")/wineserver
for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix i686-w64-mingw32-gcc x86_64-w64-mingw32-dlltool \
            i686-w64-mingw32-dlltool x86_64-w64-mingw32-windres "$wine64"; do
  command -v "$tool" > /dev/null || { echo "test-windows: $tool is missing" >&2; exit 1; }
done

timings=()
stage_start=0
begin() { stage_start=$(date +%s); echo "==== test-windows: $1"; }
end() {  # STAGE [NOTE]
  local took=$(($(date +%s) - stage_start))
  timings+=("$(printf '%-10s %4d s' "$1" "$took")${2:+  $2}")
  echo "==== test-windows: $1 took $took s"
}

# A wine prefix of our own, shared by 64-bit and 32-bit programs, and one wine
# server kept running for the whole run: otherwise every test program pays for
# starting the server again. A prefix left from an earlier run may be half
# made (a stopped run), belong to another wine version or still have a server,
# so the default one starts from nothing each time.
begin wine
mkdir -p "$build_root"
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$build_root/wine-prefix
  "$wineserver" -k 2> /dev/null || true
  rm -rf "$WINEPREFIX"
fi
export WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
"$wineserver" -p || true  # a server of this prefix may be running already
trap '"$wineserver" -k 2> /dev/null || true' EXIT
# Create the prefix and start wine's background services here, with their
# output going nowhere: services started by a test program would inherit its
# output pipe and keep ctest waiting for that test until the server ends.
"$wine64" cmd /c exit < /dev/null > /dev/null 2>&1 || true

# Can this machine run 32-bit programs? run_win32 is 1 or 0; why_not says why not.
run_win32=1 why_not=""
probe=$build_root/win32-probe
if [ "${TRAX_TEST_RUN_WIN32:-}" = 0 ]; then
  run_win32=0 why_not="TRAX_TEST_RUN_WIN32=0"
elif [ ! -x "$wine32" ]; then
  run_win32=0 why_not="no 32-bit wine: $wine32 (Debian wine32:i386) is not installed"
else
  mkdir -p "$probe"
  printf 'int main(void) { return 42; }\n' > "$probe/probe.c"
  i686-w64-mingw32-gcc -o "$probe/probe.exe" "$probe/probe.c"
  # A kernel that refuses the loader is the machine's kind, and final; any
  # other failure may be wine's start-up, which gets two more tries like the
  # tests, and then fails the run: 32-bit wine is there but broken.
  for try in 1 2 3; do
    status=0
    "$wine32" "$probe/probe.exe" < /dev/null > "$probe/output.txt" 2>&1 || status=$?
    [ "$status" -ne 42 ] || break
    if [ "$status" -eq 126 ]; then
      run_win32=0 why_not=$(tail -1 "$probe/output.txt" | sed 's/.*: //')
      break
    fi
    if [ "$try" -eq 3 ]; then
      echo "test-windows: a 32-bit program under $wine32 ended with status $status, not 42:" >&2
      cat "$probe/output.txt" >&2
      exit 1
    fi
  done
fi
if [ "$run_win32" -eq 1 ]; then
  end wine "32-bit programs run"
else
  end wine "32-bit programs cannot run: $why_not"
fi
not_run="built and checked; not run"

# wine now and then fails to start a program or stalls in its own services;
# a test that fails that way gets two more runs. The same tests run natively,
# without retries, in the Linux, sanitizer and thread-checking builds.
run_ctest() {  # BUILD_DIR [ctest arguments]
  local build=$1
  shift
  # Test lists are discovered afresh when ctest starts. CMake 3.25 can append a
  # rediscovered list to the old one, so old lists go first.
  find "$build" -name '*\[1\]_tests.cmake' -delete
  ctest --test-dir "$build" --output-on-failure -j "$jobs" --repeat until-pass:3 "$@"
}

build_and_test() {  # ARCH: the whole build; its tests where its programs can run
  local build
  build=$(windows_build_dir "$build_root" "$1")
  windows_configure "$source_dir" "$build" "$1"
  cmake --build "$build" -j "$jobs"
  if [ "$1" = x64 ] || [ "$run_win32" -eq 1 ]; then
    run_ctest "$build"
  else
    cmake --build "$build" --target trax_check_identity
  fi
}

begin x64
build_and_test x64
"$source_dir/scripts/test-web-windows.sh" "$(windows_build_dir "$build_root" x64)"  # traxctl.exe serve
end x64

# The programs find the stand-in driver through WINEPATH: without it, the
# __stdcall build (see cmake/win32/TraxDll.cmake).
begin x86
x86_build=$(windows_build_dir "$build_root" x86)
WINEPATH="Z:$x86_build/simulator/stdcall" TRAX_EXPECT_DRIVER_CONVENTION=stdcall build_and_test x86
if [ "$run_win32" -eq 1 ]; then
  echo "---- the tests that load the driver, against the __cdecl stand-in"
  # The unit tests (scripted driver linked in), the simulator's own tests and
  # the platform tests do not load it; everything else does.
  WINEPATH="Z:$x86_build/simulator/cdecl" TRAX_EXPECT_DRIVER_CONVENTION=cdecl \
    run_ctest "$x86_build" -R '^(E2e|win\.|win32\.DriverThunk)'
  end x86
else
  end x86 "$not_run"
fi

begin x86-cdecl
cdecl_build=$(windows_build_dir "$build_root" x86-cdecl)
windows_configure "$source_dir" "$cdecl_build" x86-cdecl
cmake --build "$cdecl_build" -j "$jobs" --target trax QelUsbDrv QelUsbDrv_cdecl trax_dll_test \
  trax_pe_version_info traxctl read_values
if [ "$run_win32" -eq 1 ]; then
  WINEPATH="Z:$cdecl_build/simulator/stdcall" run_ctest "$cdecl_build" -R '^win\.(dll|identity|traxctl)'
  end x86-cdecl
else
  cmake --build "$cdecl_build" --target trax_check_identity
  end x86-cdecl "$not_run"
fi

begin package
"$source_dir/scripts/package-windows.sh" "$build_root"
# The kit as README-windows.txt tells a user to try it: each architecture's
# folder with the stand-in driver copied beside it.
version=$(sed -n 's/^project(Trax VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
trial=$build_root/kit-trial
rm -rf "$trial" && mkdir -p "$trial"
cmake -E chdir "$trial" cmake -E tar xf "$source_dir/dist/trax-$version-windows.zip"
# One top-level folder holds the whole kit.
[ "$(ls -A "$trial")" = "trax-$version-windows" ] || { echo "test-windows: the zip's top level: $(ls -A "$trial")" >&2; exit 1; }
trial=$trial/trax-$version-windows
kit_archs=(x64)
[ "$run_win32" -eq 0 ] || kit_archs+=(x86)
for arch in "${kit_archs[@]}"; do
  cp "$trial/simulator/$arch/QelUsbDrv.dll" "$trial/$arch/"
  [ "$arch" = x64 ] && wine=$wine64 || wine=$wine32
  values=$(cd "$trial/$arch" && "$wine" traxctl.exe values < /dev/null | tr -d '\r')
  grep -Eq '^A  1\.235( mm)?$' <<< "$values" || { echo "test-windows: the $arch kit's traxctl printed: $values" >&2; exit 1; }
done
if [ "$run_win32" -eq 1 ]; then
  end package
else
  end package "x86 kit $not_run"
fi

echo "==== test-windows: stage times"
printf '  %s\n' "${timings[@]}"
if [ "$run_win32" -eq 0 ]; then
  case $why_not in
    TRAX_TEST_RUN_WIN32=0) echo "x86: $not_run: TRAX_TEST_RUN_WIN32=0 takes this machine for one that cannot run 32-bit programs" ;;
    *) echo "x86: $not_run: this machine cannot run 32-bit programs ($why_not)" ;;
  esac
fi
