# The Windows cross builds, as scripts/test-windows.sh and
# scripts/package-windows.sh configure them (sourced by both).
#   x64        build/windows           64-bit Trax.dll, stand-in driver in bin/
#   x86        build/windows-x86       32-bit Trax.dll (__stdcall), stand-in
#                                      driver built both ways in simulator/
#   x86-cdecl  build/windows-x86-cdecl the __cdecl variant of the 32-bit DLL

windows_prefix() {
  case $1 in
    x64) echo x86_64-w64-mingw32 ;;
    x86 | x86-cdecl) echo i686-w64-mingw32 ;;
    *) echo "unknown Windows architecture $1" >&2; return 1 ;;
  esac
}

windows_build_dir() {  # BUILD_ROOT ARCH
  case $2 in
    x64) echo "$1/windows" ;;
    *) echo "$1/windows-$2" ;;
  esac
}

windows_configure() {  # SOURCE_DIR BUILD_DIR ARCH
  local source=$1 build=$2 arch=$3 toolchain
  local args=(-DTRAX_MINGW_THREAD_MODEL=posix -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_WERROR=ON
              -DTRAX_BUILD_BENCH=OFF)
  case $arch in
    x64) toolchain=mingw-w64-x86_64.cmake ;;
    x86) toolchain=mingw-w64-i686.cmake; args+=(-DTRAX_USE_CDECL=OFF) ;;
    x86-cdecl) toolchain=mingw-w64-i686.cmake; args+=(-DTRAX_USE_CDECL=ON) ;;
  esac
  # A build folder keeps the generator it was made with.
  if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja > /dev/null; then
    args+=(-G Ninja)
  fi
  if command -v ccache > /dev/null; then
    args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  # std::thread and std::mutex (used by the test drivers) need the posix thread
  # model of the mingw-w64 compilers; winpthreads is then linked statically.
  cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/$toolchain" "${args[@]}" > /dev/null
}
