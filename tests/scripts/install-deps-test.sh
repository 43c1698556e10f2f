#!/usr/bin/env bash
# scripts/install-deps.sh against stand-ins for dpkg, dpkg-query, apt-get and
# sudo that record what they are asked: which packages each group asks for,
# and that a machine where the i386 architecture cannot be added, whose
# package sources lack it, or whose i386 index cannot be fetched just now,
# still gets everything else.
#
# usage: install-deps-test.sh INSTALL_DEPS_SH
set -u
script=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/trax-install-deps-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

# Stand-ins. STUB_INSTALLED: packages already there; STUB_ADD_ARCH=fail: the
# architecture cannot be added; STUB_SOURCES=native: the sources carry no
# foreign architecture (update fails while one is added).
cat > "$work/bin/dpkg-query" << 'STUB'
#!/usr/bin/env bash
for p in $STUB_INSTALLED; do [ "$p" = "${!#}" ] && { printf 'install ok installed'; exit 0; }; done
exit 1
STUB
cat > "$work/bin/dpkg" << 'STUB'
#!/usr/bin/env bash
echo "dpkg $*" >> "$STUB_LOG"
case $1 in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$STUB_FOREIGN"; [ -z "${STUB_PRESET:-}" ] || echo "$STUB_PRESET" ;;
  --add-architecture) [ "${STUB_ADD_ARCH:-}" != fail ] || exit 2; echo "$2" >> "$STUB_FOREIGN" ;;
  --remove-architecture) grep -vx "$2" "$STUB_FOREIGN" > "$STUB_FOREIGN.new"; mv "$STUB_FOREIGN.new" "$STUB_FOREIGN" ;;
esac
STUB
cat > "$work/bin/apt-get" << 'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >> "$STUB_LOG"
case $1 in
  update) case ${STUB_SOURCES:-} in
            native) ! [ -s "$STUB_FOREIGN" ] ;;
            foreign-sync | broken)
              # The i386 index of one suite is mid-sync; "broken": the native one too.
              echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"
              [ "$STUB_SOURCES" != broken ] ||
                echo "E: Failed to fetch http://deb.example/debian/dists/bookworm/main/binary-amd64/Packages.xz  Hash Sum mismatch"
              echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
              exit 100 ;;
          esac ;;
  install) for p in "$@"; do
             case $p in *:*) { cat "$STUB_FOREIGN"; echo "${STUB_PRESET:-}"; } | grep -qx "${p##*:}" || exit 100
                             [ "${STUB_SOURCES:-}" != foreign-sync ] || exit 100 ;; esac
           done ;;
esac
STUB
printf '#!/usr/bin/env bash\nexec "$@"\n' > "$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
# name | arguments | stand-in settings | exit status | patterns the log must
# hold (;-separated) | patterns it must not hold
cases=(
  "nothing missing|linux|STUB_INSTALLED='cmake ninja-build g++ nlohmann-json3-dev'|0||apt-get"
  "demo group only|linux|STUB_INSTALLED=cmake|0|install -y --no-install-recommends ninja-build g\\+\\+ nlohmann-json3-dev$|mingw;wine;clang;gtest"
  "groups add up|linux fuzz|STUB_INSTALLED=|0|install -y --no-install-recommends cmake ninja-build g\\+\\+ nlohmann-json3-dev clang libclang-rt-14-dev llvm$|"
  "all: every group, each package once|all|STUB_INSTALLED=|0|googletest;python3-numpy;g\\+\\+-mingw-w64-i686;libclang-rt-14-dev;add-architecture i386;install -y --no-install-recommends wine32:i386$|llvm.*llvm"
  "no group named|winodws|STUB_INSTALLED=|2||apt-get"
  "i386 cannot be added|windows|STUB_INSTALLED= STUB_ADD_ARCH=fail|0|install -y --no-install-recommends g\\+\\+-mingw-w64-x86-64 .*wine64 llvm lld$|wine32"
  "sources without i386|windows|STUB_INSTALLED= STUB_SOURCES=native|0|add-architecture i386;remove-architecture i386;wine64 llvm lld$|wine32"
  "i386 there, its index mid-sync|windows|STUB_INSTALLED= STUB_PRESET=i386 STUB_SOURCES=foreign-sync|0|wine64 llvm lld$|wine32;add-architecture;remove-architecture"
  "the native index broken too|windows|STUB_INSTALLED= STUB_PRESET=i386 STUB_SOURCES=broken|1|update|install"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name arguments settings want_status must must_not <<< "$entry"
  : > "$work/log"
  : > "$work/foreign"
  status=0
  # shellcheck disable=SC2086
  env -i PATH="$work/bin:/usr/bin:/bin" STUB_LOG="$work/log" STUB_FOREIGN="$work/foreign" \
    bash -c "export $settings; exec \"\$0\" $arguments" "$script" > "$work/out" 2>&1 || status=$?
  log=$(cat "$work/log")
  [ "$status" -eq "$want_status" ] || { echo "FAILED: $name: exit status $status, not $want_status: $(cat "$work/out")"; failures=$((failures + 1)); }
  IFS=';' read -r -a patterns <<< "$must"
  for pattern in "${patterns[@]}"; do
    grep -Eq -- "$pattern" <<< "$log" || { echo "FAILED: $name: nothing like '$pattern' in:"; echo "$log"; failures=$((failures + 1)); }
  done
  IFS=';' read -r -a patterns <<< "$must_not"
  for pattern in "${patterns[@]}"; do
    ! grep -Eq -- "$pattern" <<< "$log" || { echo "FAILED: $name: '$pattern' in:"; echo "$log"; failures=$((failures + 1)); }
  done
done
[ "$failures" -eq 0 ] || exit 1
echo "${#cases[@]} cases passed"
