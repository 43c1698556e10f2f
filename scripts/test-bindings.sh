#!/usr/bin/env bash
# The .NET and VBA bindings: regenerated from trax.h and the setting table and
# compared with the committed files, checked declaration by declaration against
# trax.h, and the C# test program run under Mono against the Linux build's
# libtrax.so.2 and the simulated controller.
#   scripts/test-bindings.sh [BUILD_DIR]     (default build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build/linux}")
python=/usr/bin/python3

mypy --strict --cache-dir=/dev/null bindings/generate.py bindings/check_bindings.py
"$python" bindings/generate.py --check
"$python" bindings/check_bindings.py
"$python" -m pytest -p no:cacheprovider -q bindings/tests/test_check_bindings.py

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_WERROR=ON
fi
cmake --build "$build" --target trax QelUsbDrv

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The record sizes as the C compiler lays them out, for the test to compare.
printf '#include <stdio.h>\n#include <trax.h>\nint main(void) { printf("%%zu %%zu %%zu\\n", sizeof(FloatValue), sizeof(FigureData), sizeof(LightData)); return 0; }\n' > "$work/sizes.c"
cc -I include "$work/sizes.c" -o "$work/sizes"
read -r -a sizes < <("$work/sizes")

mcs -nologo -warnaserror -target:exe -out:"$work/ControllerTest.exe" \
  bindings/dotnet/Trax.cs bindings/dotnet/Controller.cs bindings/tests/ControllerTest.cs
# The mapping a Linux program of the user's has in its .config (Controller.cs).
cat > "$work/ControllerTest.exe.config" <<'XML'
<configuration>
  <dllmap dll="Trax.dll" target="libtrax.so.2"/>
</configuration>
XML
# The simulated controller starts fresh in each process. Run once with the
# reason tap the binding makes for itself (and removes), once with one the
# environment names, which already holds an earlier program's line and must be
# written to and left in place.
cd "$work"
mkdir tmp
export TRAX_TEST_DATA=$root/tests/data
env -u TRAX_SIM_STATE -u TRAX_LOG_TAP TMPDIR="$work/tmp" LD_LIBRARY_PATH="$build" mono ControllerTest.exe "${sizes[@]}"
[ -z "$(ls -A "$work/tmp")" ] || { echo "test-bindings: the binding left its tap behind: $(ls "$work/tmp")" >&2; exit 1; }
printf '{"thread":1,"call":"TRAX_AbleStop","result":0,"reason":"stale","reasons":[{"error":99}]}\n' > given-tap
env -u TRAX_SIM_STATE TRAX_LOG_TAP="$work/given-tap" LD_LIBRARY_PATH="$build" mono ControllerTest.exe "${sizes[@]}" |
  tail -1
# A library whose driver is missing: the exception says it is the driver.
mkdir no-driver
cc -shared -fPIC -o no-driver/libtrax.so.2 -x c /dev/null -Wl,--no-as-needed -L"$build/sim" -lQelUsbDrv
env -u TRAX_SIM_STATE LD_LIBRARY_PATH="$work/no-driver" mono ControllerTest.exe --driver-missing
grep -q '"call":"TRAX_AbleCancel"' given-tap || { echo "test-bindings: the library wrote nothing to TRAX_LOG_TAP" >&2; exit 1; }
