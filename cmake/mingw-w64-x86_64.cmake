# Cross-compiling for 64-bit Windows with mingw-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# (Debian g++-mingw-w64-x86-64). Shared settings: mingw-w64-common.cmake.

set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRAX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
