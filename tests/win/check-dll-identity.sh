#!/usr/bin/env bash
# Identity of the built DLLs, read from the files on the build machine (no wine):
#   Trax.dll      export directory named "Trax.dll", exactly the TRAX_* functions
#                 of include/trax.h, ordinals 1..N in byte order of the names;
#                 imports only system DLLs and the six driver functions by name
#                 from QelUsbDrv.dll (no mingw run-time DLL); version resource.
#   QelUsbDrv.dll exactly the six driver functions by their plain names and the
#                 stand-in's description (each build of it given); no mingw
#                 run-time DLL.
#
# usage: check-dll-identity.sh OBJDUMP VERSION_READER TRAX_H TRAX_DLL QELUSBDRV_DLL...
set -u

objdump=$1 reader=$2 header=$3 trax=$4
shift 4
drivers=("$@")
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

# The export directory name, the entries of "[Ordinal/Name Pointer] Table" as
# "<ordinal-base index> <name>", and the imports as "<dll> <function>".
export_name() { "$objdump" -p "$1" | awk '/^Name[ \t]/ { print $NF; exit }'; }
ordinal_base() { "$objdump" -p "$1" | awk '/^Ordinal Base/ { print $NF; exit }'; }
export_table() {
  "$objdump" -p "$1" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^[ \t]*$/ { exit }
    on { gsub(/[\[\]]/, ""); print $1, $2 }'
}
imports() {
  "$objdump" -p "$1" | awk '
    /DLL Name:/ { dll = $3; print dll, "-"; next }
    /^[ \t]*$/ { dll = "" }
    dll != "" && $1 ~ /^[0-9a-f]+$/ && NF == 3 { print dll, $3 }'
}

for file in "$trax" "${drivers[@]}"; do
  [ -f "$file" ] || { fail "$file does not exist"; exit 1; }
done

# ---- Trax.dll exports ---------------------------------------------------------
expected_names=$(grep -oE '^[[:space:]]*TRAX_API[[:space:]]+int[[:space:]]+TRAX_CALL[[:space:]]+TRAX_[A-Za-z0-9_]+' "$header" \
                 | grep -oE 'TRAX_[A-Za-z0-9_]+$' | LC_ALL=C sort)
count=$(printf '%s\n' "$expected_names" | grep -c .)
[ "$count" -eq 69 ] || fail "include/trax.h declares $count exported functions, not 69"
expected_table=$(printf '%s\n' "$expected_names" | awk '{ print NR - 1, $0 }')
actual_table=$(export_table "$trax")

[ "$(export_name "$trax")" = "Trax.dll" ] || fail "export directory of Trax.dll names '$(export_name "$trax")'"
[ "$(ordinal_base "$trax")" = "1" ] || fail "ordinal base of Trax.dll is '$(ordinal_base "$trax")', not 1"
if [ "$actual_table" != "$expected_table" ]; then
  fail "Trax.dll exports differ from the header (< expected, > actual):"
  diff <(printf '%s\n' "$expected_table") <(printf '%s\n' "$actual_table") | grep '^[<>]' | head -20 >&2
fi
address_entries=$("$objdump" -p "$trax" | grep -cE '^[[:space:]]*\[ *[0-9]+\] \+base\[')
[ "$address_entries" -eq "$count" ] || fail "Trax.dll has $address_entries export addresses, not $count"

# ---- Trax.dll imports ---------------------------------------------------------
trax_imports=$(imports "$trax")
trax_dlls=$(printf '%s\n' "$trax_imports" | awk '$2 == "-" { print $1 }' | LC_ALL=C sort)
while read -r dll; do
  case "${dll,,}" in
    kernel32.dll | user32.dll | msvcrt.dll | qelusbdrv.dll) ;;
    *) fail "Trax.dll imports $dll" ;;
  esac
done <<< "$trax_dlls"
driver_imports=$(printf '%s\n' "$trax_imports" | awk '$1 == "QelUsbDrv.dll" && $2 != "-" { print $2 }' | LC_ALL=C sort)
expected_driver="CheckUsbDllStatus
InitPid
InitQelUsbTypeParam
InitUsb
QelUsbPtrIoPtr
SetUsbType"
[ "$driver_imports" = "$expected_driver" ] \
  || fail "Trax.dll imports from QelUsbDrv.dll: $(echo $driver_imports)"

# ---- QelUsbDrv.dll --------------------------------------------------------------
# The stand-in also exports the function by which it makes itself known.
expected_standin=$(printf '%s\nQelUsbStandInDescription\n' "$expected_driver" | LC_ALL=C sort)
for driver in "${drivers[@]}"; do
  [ "$(export_name "$driver")" = "QelUsbDrv.dll" ] || fail "export directory of $driver names '$(export_name "$driver")'"
  driver_exports=$(export_table "$driver" | awk '{ print $2 }' | LC_ALL=C sort)
  [ "$driver_exports" = "$expected_standin" ] || fail "$driver exports: $(echo $driver_exports)"
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | user32.dll | msvcrt.dll) ;;
      *) fail "$driver imports $dll" ;;
    esac
  done < <(imports "$driver" | awk '$2 == "-" { print $1 }')
done

# ---- Version resource -----------------------------------------------------------
version=$("$reader" "$trax") || fail "no version resource could be read from Trax.dll"
for line in \
  "FixedFileVersion=2.2.0.0" \
  "FixedProductVersion=2.2.0.0" \
  "040904b0/FileVersion=2, 2, 0, 0" \
  "040904b0/ProductVersion=2, 2, 0, 0" \
  "040904b0/FileDescription=Trax" \
  "040904b0/InternalName=Trax" \
  "040904b0/OriginalFilename=Trax.dll"; do
  grep -qxF "$line" <<< "$version" || fail "version resource lacks '$line'"
done

echo "Trax.dll: $count exports, imports from: $(echo $trax_dlls)"
echo "$version"
if [ "$failures" -ne 0 ]; then
  echo "$failures identity check(s) failed" >&2
  exit 1
fi
echo "identity checks passed"
