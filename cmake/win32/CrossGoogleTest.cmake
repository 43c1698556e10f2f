# GoogleTest for the Windows cross build, compiled from the Debian source
# package (/usr/src/googletest) with the same mingw-w64 compilers, so that
# tests/CMakeLists.txt finds GTest::gtest, GTest::gtest_main and GTest::gmock as
# it does on Linux.

set(TRAX_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree for the cross build")
if(NOT EXISTS ${TRAX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${TRAX_GOOGLETEST_SOURCE_DIR} (Debian package googletest)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${TRAX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# GoogleTest is not our code: our warning flags (and -Werror) stay off it.
foreach(target gtest gtest_main gmock gmock_main)
  set_property(TARGET ${target} PROPERTY COMPILE_OPTIONS -w)
endforeach()

# Recent GoogleTest sources name their targets GTest::* themselves.
foreach(target gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${target})
    add_library(GTest::${target} ALIAS ${target})
  endif()
endforeach()

list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

# Test discovery runs the executables under wine; do it when ctest starts, so
# that building needs no wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
