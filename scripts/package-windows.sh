#!/usr/bin/env bash
# Writes the Windows kit dist/trax-<version>-windows.zip from the two Windows
# builds (64-bit build/windows, 32-bit build/windows-x86), building whatever of
# the kit is missing there first:
#
#   x64/ and x86/          Trax.dll, Trax.def, libTrax.dll.a (mingw import
#                          library), Trax.lib (MSVC import library), traxctl.exe
#   simulator/x64/, x86/   the stand-in QelUsbDrv.dll with the simulated controller
#   include/trax.h, examples/*.c, README-windows.txt, simulator/simulator.md
#   dotnet/                Trax.cs (P/Invoke declarations, generated), Controller.cs
#   vba/                   Trax.bas (Declares, generated), TraxExample.bas
#   labview/README.md      the Call Library Function Node, family by family
#   python/                the trax package as a pure wheel
#
# The DLLs and programs are stripped of their debug sections; the debug
# information goes to dist/debug/ beside the zip.
#
#   scripts/package-windows.sh [BUILD_ROOT]     (default: build/ in the checkout)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_root=${1:-$source_dir/build}
dist=$source_dir/dist
version=$(sed -n 's/^project(Trax VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[ -n "$version" ] || { echo "package-windows: no project version in CMakeLists.txt" >&2; exit 1; }
name=trax-$version-windows
zip=$dist/$name.zip

llvm_dlltool=$(command -v llvm-dlltool || ls /usr/lib/llvm-*/bin/llvm-dlltool 2> /dev/null | tail -1 || true)
llvm_nm=$(command -v llvm-nm || ls /usr/lib/llvm-*/bin/llvm-nm 2> /dev/null | tail -1 || true)
[ -n "$llvm_dlltool" ] && [ -n "$llvm_nm" ] || { echo "package-windows: llvm-dlltool or llvm-nm is missing (Debian llvm)" >&2; exit 1; }

# The builds are the tested ones of scripts/test-windows.sh, configured here
# the same way (which is quick when they exist).
source "$source_dir/scripts/windows-builds.sh"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
kit=$stage/$name
mkdir -p "$kit/include" "$kit/examples" "$dist/debug"

for arch in x64 x86; do
  build=$(windows_build_dir "$build_root" "$arch")
  windows_configure "$source_dir" "$build" "$arch"
  cmake --build "$build" --target trax_kit
  # dll=, implib=, def=, traxctl=, driver= : where the build put them
  declare -A file=()
  while IFS='=' read -r key value; do file[$key]=$value; done < "$build/win32/kit-files.txt"
  prefix=$(windows_prefix "$arch")

  mkdir -p "$kit/$arch" "$kit/simulator/$arch" "$dist/debug/$arch"
  strip_into() {  # FILE DEST_DIR: a stripped copy, the debug information apart
    local base
    base=$(basename "$1")
    "$prefix-objcopy" --only-keep-debug "$1" "$dist/debug/$arch/$base.debug"
    "$prefix-objcopy" --strip-unneeded "$1" "$2/$base"
  }
  strip_into "${file[dll]}" "$kit/$arch"
  strip_into "${file[traxctl]}" "$kit/$arch"
  "$prefix-objcopy" --strip-unneeded "${file[driver]}" "$kit/simulator/$arch/QelUsbDrv.dll"
  cp "${file[def]}" "$kit/$arch/Trax.def"
  cp "${file[implib]}" "$kit/$arch/libTrax.dll.a"
  # MSVC's import library in the short import format. On x86 the .def names
  # carry their __stdcall suffix; -k binds _TRAX_GetCalcData@8 to the plain
  # export TRAX_GetCalcData.
  if [ "$arch" = x86 ]; then
    "$llvm_dlltool" -m i386 -k -d "${file[def]}" -D Trax.dll -l "$kit/$arch/Trax.lib"
  else
    "$llvm_dlltool" -m i386:x86-64 -d "${file[def]}" -D Trax.dll -l "$kit/$arch/Trax.lib"
  fi
  unset file
done

cp "$source_dir/include/trax.h" "$kit/include/"
cp "$source_dir"/examples/*.c "$kit/examples/"
# Text files for Windows: CRLF line ends (the VBA editor imports nothing else).
sed -e "s/@TRAX_VERSION@/$version/" -e 's/$/\r/' "$source_dir/cmake/win32/README-windows.txt" > "$kit/README-windows.txt"
# The simulated controller's manual (its TRAX_SIM_* variables) beside it.
sed -e 's/$/\r/' "$source_dir/sim/README.md" > "$kit/simulator/simulator.md"
# The bindings as generated from this trax.h, never a stale copy.
/usr/bin/python3 "$source_dir/bindings/generate.py" --check
for f in dotnet/Trax.cs dotnet/Controller.cs vba/Trax.bas vba/TraxExample.bas labview/README.md; do
  mkdir -p "$kit/$(dirname "$f")"
  sed 's/$/\r/' "$source_dir/bindings/$f" > "$kit/$f"
done
"$source_dir/scripts/build-wheel.sh" "$kit/python" > /dev/null

# ---- Checks of what goes out --------------------------------------------------
failures=0
fail() { echo "package-windows: $*" >&2; failures=$((failures + 1)); }
for arch in x64 x86; do
  prefix=$(windows_prefix "$arch")
  for f in "$kit/$arch/Trax.dll" "$kit/$arch/traxctl.exe" "$kit/simulator/$arch/QelUsbDrv.dll"; do
    "$prefix-objdump" -h "$f" | grep -q '\.debug_' && fail "$f keeps debug sections"
    while read -r dll; do
      case "${dll,,}" in
        kernel32.dll | user32.dll | msvcrt.dll | advapi32.dll | shell32.dll | trax.dll | qelusbdrv.dll) ;;
        # Windows' sockets, for traxctl serve; never in the library or the driver.
        ws2_32.dll | mswsock.dll) [[ $f == */traxctl.exe ]] || fail "$f imports $dll" ;;
        *) fail "$f imports $dll" ;;
      esac
    done < <("$prefix-objdump" -p "$f" | awk '/DLL Name:/ { print $3 }')
  done
  # Every MSVC import names its export plainly, whatever the symbol.
  imports=$("$llvm_nm" "$kit/$arch/Trax.lib" 2> /dev/null | grep -c ' T __imp_' || true)
  [ "$imports" -eq 69 ] || fail "$arch/Trax.lib has $imports functions, not 69"
done
if command -v lld-link > /dev/null; then
  # MSVC's way of linking, with LLVM's compatible linker: a DLL that calls two
  # functions through Trax.lib must import them from Trax.dll by plain name.
  # (The probe object comes from mingw, which does not mark it SEH-safe.)
  probe=$stage/probe
  mkdir -p "$probe"
  printf '#include <trax.h>\nint probe(void) { return TRAX_SetMode(0) + TRAX_GetCalcData(0, 0); }\n' > "$probe/probe.c"
  for arch in x64 x86; do
    prefix=$(windows_prefix "$arch")
    "$prefix-gcc" -O2 -c -I"$kit/include" "$probe/probe.c" -o "$probe/$arch.obj"
    lld-link -nologo -dll -noentry -nodefaultlib -machine:"$arch" -safeseh:no -export:probe "$probe/$arch.obj" \
      "$kit/$arch/Trax.lib" -out:"$probe/$arch.dll" > /dev/null || fail "$arch/Trax.lib does not link"
    probe_imports=$("$prefix-objdump" -p "$probe/$arch.dll" | awk '/DLL Name: Trax.dll/ { on = 1; next }
      on && /^[ \t]*$/ { exit } on && NF == 3 { print $3 }' | LC_ALL=C sort | tr '\n' ' ')
    [ "$probe_imports" = "TRAX_GetCalcData TRAX_SetMode " ] || fail "$arch/Trax.lib links to: $probe_imports"
  done
fi
for f in dotnet/Trax.cs dotnet/Controller.cs vba/Trax.bas vba/TraxExample.bas labview/README.md \
         "python/trax-$version-py3-none-any.whl"; do
  [ -s "$kit/$f" ] || fail "the kit lacks $f"
done
[ "$failures" -eq 0 ] || exit 1

rm -f "$zip"
# One top-level folder, trax-<version>-windows\, so that unpacking puts
# nothing loose beside whatever is already there.
(cd "$(dirname "$kit")" && cmake -E tar cf "$zip" --format=zip "$name")
echo "package-windows: wrote $zip"
