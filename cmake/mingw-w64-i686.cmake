# Cross-compiling for 32-bit Windows with mingw-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# (Debian g++-mingw-w64-i686). Shared settings: mingw-w64-common.cmake.
# The programs run under 32-bit wine (Debian wine32 of the i386 architecture).

set(CMAKE_SYSTEM_PROCESSOR x86)
set(TRAX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
