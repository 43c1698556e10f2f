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
# The simulated controller starts fresh in this process.
cd "$work"
env -u TRAX_SIM_STATE LD_LIBRARY_PATH="$build" mono ControllerTest.exe "${sizes[@]}"
