# Settings shared by the mingw-w64 toolchain files; each of them sets
# CMAKE_SYSTEM_PROCESSOR and TRAX_MINGW_PREFIX, then includes this file.
#
# The binaries must run without any mingw run-time DLL beside them, so libgcc
# (with its unwinder) and libstdc++ are linked statically. The default
# compilers use the win32 thread model and need no winpthreads; choose
# TRAX_MINGW_THREAD_MODEL=posix when std::thread is wanted, and winpthreads is
# then linked statically too.

set(CMAKE_SYSTEM_NAME Windows)

set(TRAX_MINGW_THREAD_MODEL "" CACHE STRING
    "Thread model of the mingw-w64 compilers: empty (the installed default), win32 or posix")

if(TRAX_MINGW_THREAD_MODEL)
  set(TRAX_MINGW_SUFFIX "-${TRAX_MINGW_THREAD_MODEL}")
else()
  set(TRAX_MINGW_SUFFIX "")
endif()

set(CMAKE_C_COMPILER ${TRAX_MINGW_PREFIX}-gcc${TRAX_MINGW_SUFFIX})
set(CMAKE_CXX_COMPILER ${TRAX_MINGW_PREFIX}-g++${TRAX_MINGW_SUFFIX})
set(CMAKE_RC_COMPILER ${TRAX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TRAX_MINGW_PREFIX}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${TRAX_MINGW_PREFIX}-ranlib CACHE FILEPATH "Archive indexer")

# Headers and libraries come from the mingw-w64 sysroot only; programs (the
# build tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TRAX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(TRAX_MINGW_STATIC_FLAGS "-static-libgcc -static-libstdc++")
if(TRAX_MINGW_THREAD_MODEL STREQUAL "posix")
  # -static only changes how -l libraries are looked up, so import libraries
  # given by path (such as the driver's) stay dynamic.
  string(APPEND TRAX_MINGW_STATIC_FLAGS " -static")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${TRAX_MINGW_STATIC_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${TRAX_MINGW_STATIC_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${TRAX_MINGW_STATIC_FLAGS}")

# try_compile projects run the toolchain file again; they must see the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRAX_MINGW_THREAD_MODEL)

# Windows programs that ctest starts run under wine, quietly, unless the
# caller chose another emulator. 64-bit wine starts 32-bit programs too (with
# wine32 installed), but the 32-bit loader is the direct way for them.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
    set(TRAX_WINE_NAMES wine wine64)
  else()
    set(TRAX_WINE_NAMES wine64 wine)
  endif()
  find_program(TRAX_WINE NAMES ${TRAX_WINE_NAMES} PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(TRAX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEDEBUG=-all ${TRAX_WINE})
  endif()
endif()
