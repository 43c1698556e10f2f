#!/usr/bin/env bash
# Identity of the built DLLs, read from the files on the build machine (no wine):
#   Trax.dll      export directory named "Trax.dll", exactly the TRAX_* functions
#                 of include/trax.h, ordinals 1..N in byte order of the names;
#                 every export cleans up the stack as its convention says;
#                 imports only system DLLs and the six driver functions by name
#                 from QelUsbDrv.dll (no mingw run-time DLL); version resource.
#   QelUsbDrv.dll exactly the six driver functions by their plain names and the
#                 stand-in's description (each build of it given); no mingw
#                 run-time DLL.
#
# usage: check-dll-identity.sh OBJDUMP VERSION_READER TRAX_H CONVENTION TRAX_DLL QELUSBDRV_DLL...
#   CONVENTION  stdcall: 32-bit, the function removes its arguments (ret N);
#               cdecl: the caller removes them (plain ret), as on 64-bit Windows
# The convention check reads the DLL's own symbols: give it the unstripped DLL
# of the build, not the kit's.
set -u

objdump=$1 reader=$2 header=$3 convention=$4 trax=$5
shift 5
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

# ---- Trax.dll stack clean-up ------------------------------------------------------
# A caller compiled against the header cleans up as the header says; an export
# built with the other convention leaves the stack off by the argument bytes
# at every call, which no test of one call at a time may notice. So every
# return of every export is read from the machine code: __stdcall returns with
# "ret N", N the argument bytes (each argument an int or a pointer, 4 bytes);
# __cdecl and 64-bit Windows with a plain "ret".
format=$("$objdump" -f "$trax" | awk '/file format/ { print $NF; exit }')
case "$convention:$format" in
  stdcall:pei-i386 | cdecl:pei-i386 | cdecl:pei-x86-64) ;;
  *) fail "no $convention convention for a DLL of format '$format'" ;;
esac
# "<name> <argument bytes>" from the declarations; an argument of another kind
# is named, since its size cannot be told from here.
declared=$(awk '
  /^[ \t]*TRAX_API[ \t]+int[ \t]+TRAX_CALL[ \t]+TRAX_/ {
    line = $0
    sub(/^.*TRAX_CALL[ \t]+/, "", line)
    name = line; sub(/[ \t]*\(.*$/, "", name)
    args = line; sub(/^[^(]*\(/, "", args); sub(/\).*$/, "", args)
    n = (args ~ /^[ \t]*(void)?[ \t]*$/) ? 0 : split(args, arg, ",")
    for (i = 1; i <= n; i++)
      if (arg[i] !~ /^[ \t]*int[ \t]+[A-Za-z0-9_]+[ \t]*$/ && arg[i] !~ /\*[ \t]*[A-Za-z0-9_]+[ \t]*$/)
        print name, "?" arg[i]
    print name, 4 * n
  }' "$header")
while read -r name bytes; do
  fail "$name takes '${bytes#?}', neither an int nor a pointer"
done < <(awk '$2 ~ /^\?/' <<< "$declared")
# "<address> <name> <bytes expected after ret>", the address as objdump prints
# it in the disassembly, without leading zeros.
image_base=$("$objdump" -p "$trax" | awk '/^ImageBase/ { print $2; exit }')
export_rvas=$("$objdump" -p "$trax" | awk '
  /^Export Address Table -- Ordinal Base/ { on = 1; next }
  on && /^[ \t]*$/ { exit }
  on { gsub(/[\[\]]/, ""); print $1, $4 }')
expected_returns=$(join <(sort -k1,1 <<< "$actual_table") <(sort -k1,1 <<< "$export_rvas") \
  | while read -r index name rva; do
      bytes=$(awk -v n="$name" '$1 == n { print $2 }' <<< "$declared")
      [ "$convention" = stdcall ] || bytes=0
      printf '%x %s %s\n' $((0x$image_base + 0x$rva)) "$name" "${bytes:-unknown}"
    done)
# One pass over the disassembly: each export's body runs from its label to the
# next label. Prints "<name> <complaint>" for every wrong return, for a body
# without a return and for an export without a label.
wrong_returns=$("$objdump" -d --no-show-raw-insn "$trax" | awk '
  function hex(s,   i, v) {
    v = 0; s = tolower(s); sub(/^\$?0x/, "", s)
    for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return v
  }
  NR == FNR { name[$1] = $2; want[$1] = $3; next }
  /^[0-9a-f]+ <.*>:$/ {
    current = $1; sub(/^0+/, "", current)
    if (!(current in name)) current = ""
    else seen[current] = 1
    next
  }
  current != "" && /^ *[0-9a-f]+:\t/ {
    split($0, field, "\t"); insn = field[2]; at = field[1]
    gsub(/[ :]/, "", at); gsub(/ +/, " ", insn); sub(/ $/, "", insn)
    sub(/^(rep|repz) /, "", insn)
    if (insn !~ /^ret[lwq]?( |$)/) next
    returns[current]++
    operand = insn; sub(/^ret[lwq]? ?/, "", operand)
    popped = operand == "" ? 0 : hex(operand)
    if (popped != want[current])
      print name[current], "at " at ": \"" insn "\" removes " popped " bytes of arguments, not " want[current]
  }
  END {
    for (a in name) {
      if (!(a in seen)) print name[a], "has no symbol at its address " a " (stripped DLL?)"
      else if (!(a in returns)) print name[a], "has no return in its body"
    }
  }' <(printf '%s\n' "$expected_returns") -)
if [ -n "$wrong_returns" ]; then
  fail "Trax.dll exports that do not clean up the stack as $convention does:"
  printf '%s\n' "$wrong_returns" | LC_ALL=C sort | head -20 >&2
fi
checked_returns=$(printf '%s\n' "$expected_returns" | grep -c .)
[ "$checked_returns" -eq "$count" ] || fail "stack clean-up checked for $checked_returns exports, not $count"

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
# The stand-in also exports the function by which it makes itself known and
# the two that its replay of a recording answers (both looked up by name).
expected_standin=$(printf '%s\nQelUsbStandInDescription\nQelUsbStandInReplayStatus\nQelUsbStandInReplayWaitMs\n' \
  "$expected_driver" | LC_ALL=C sort)
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

echo "Trax.dll: $count exports ($convention), imports from: $(echo $trax_dlls)"
echo "$version"
if [ "$failures" -ne 0 ]; then
  echo "$failures identity check(s) failed" >&2
  exit 1
fi
echo "identity checks passed"
