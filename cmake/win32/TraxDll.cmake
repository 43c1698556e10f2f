# Trax.dll and its driver import for 64-bit and 32-bit Windows (included from
# the top-level CMakeLists.txt when building for WIN32).
#
# - Exports come only from the generated module-definition file: the 69 TRAX_*
#   functions with ordinals 1..69, nothing else (the header's TRAX_API is empty
#   on Windows, and --exclude-all-symbols keeps ld from exporting anything on
#   its own). On 32-bit Windows the functions are __stdcall, whose symbols
#   carry the argument bytes (_TRAX_GetCalcData@8): the file then lists the
#   decorated names and --kill-at exports them plain. TRAX_USE_CDECL builds the
#   __cdecl variant, whose plain names need neither.
# - The driver is imported by its plain names from QelUsbDrv.dll through an
#   import library made by dlltool, so the DLL links the same way whether the
#   stand-in driver is built or not. On 32-bit Windows the library calls the
#   driver through a thunk that does not depend on its convention
#   (driver/DriverCall.h).
# - libgcc, libstdc++ and winpthreads are linked statically by the toolchain
#   file, so the DLL needs nothing beside it but the driver.

include(${CMAKE_CURRENT_LIST_DIR}/TraxExports.cmake)
enable_language(RC)

set(TRAX_WIN32_DIR ${CMAKE_CURRENT_LIST_DIR})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(TRAX_WIN_ARCH x86)
else()
  set(TRAX_WIN_ARCH x64)
endif()
set(TRAX_DEF_FILE ${CMAKE_BINARY_DIR}/win32/Trax.def)
if(TRAX_WIN_ARCH STREQUAL "x86" AND NOT TRAX_USE_CDECL)
  trax_write_export_def(${CMAKE_SOURCE_DIR}/include/trax.h ${TRAX_DEF_FILE} DECORATED)
  set(TRAX_KILL_AT -Wl,--kill-at)
else()
  trax_write_export_def(${CMAKE_SOURCE_DIR}/include/trax.h ${TRAX_DEF_FILE})
  set(TRAX_KILL_AT "")
endif()

# Version resource: 2.2.0 from the project becomes 2,2,0,0 and "2, 2, 0, 0".
set(TRAX_RC_VERSION_PARTS ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} 0)
list(JOIN TRAX_RC_VERSION_PARTS "," TRAX_RC_VERSION_COMMAS)
list(JOIN TRAX_RC_VERSION_PARTS ", " TRAX_RC_VERSION_TEXT)
configure_file(${TRAX_WIN32_DIR}/Trax.rc.in ${CMAKE_BINARY_DIR}/win32/Trax.rc @ONLY)

# Import library of the driver. On 32-bit Windows the header declares the
# driver's functions __stdcall, so the symbols the library refers to are
# decorated; --kill-at binds them to the plain names the driver exports.
find_program(TRAX_DLLTOOL NAMES ${TRAX_MINGW_PREFIX}-dlltool dlltool REQUIRED)
set(TRAX_DRIVER_IMPORT_LIB ${CMAKE_BINARY_DIR}/win32/libQelUsbDrv-import.a)
if(TRAX_WIN_ARCH STREQUAL "x86")
  set(TRAX_DRIVER_DEF ${TRAX_WIN32_DIR}/QelUsbDrv-x86.def)
  set(TRAX_DRIVER_DLLTOOL_FLAGS --kill-at)
else()
  set(TRAX_DRIVER_DEF ${TRAX_WIN32_DIR}/QelUsbDrv.def)
  set(TRAX_DRIVER_DLLTOOL_FLAGS "")
endif()
add_custom_command(
  OUTPUT ${TRAX_DRIVER_IMPORT_LIB}
  COMMAND ${TRAX_DLLTOOL} --input-def ${TRAX_DRIVER_DEF} ${TRAX_DRIVER_DLLTOOL_FLAGS}
          --dllname QelUsbDrv.dll --output-lib ${TRAX_DRIVER_IMPORT_LIB}
  DEPENDS ${TRAX_DRIVER_DEF}
  COMMENT "Import library for QelUsbDrv.dll"
  VERBATIM)
add_custom_target(trax_driver_import DEPENDS ${TRAX_DRIVER_IMPORT_LIB})

add_library(trax SHARED
  $<TARGET_OBJECTS:trax_obj>
  ${CMAKE_SOURCE_DIR}/session/LibraryEntry_win32.cpp
  ${TRAX_DEF_FILE}
  ${CMAKE_BINARY_DIR}/win32/Trax.rc)
target_include_directories(trax PUBLIC
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:include>)
target_include_directories(trax PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(trax PRIVATE TRAX_BUILDING_LIBRARY)
if(TRAX_USE_CDECL)
  # Callers must declare the functions the way this build defines them.
  target_compile_definitions(trax PUBLIC TRAX_USE_CDECL)
endif()
# Trax.dll and its import library Trax.lib, as a Windows user expects them.
set_target_properties(trax PROPERTIES
  OUTPUT_NAME Trax
  PREFIX ""
  IMPORT_PREFIX ""
  IMPORT_SUFFIX ".lib"
  LINK_DEPENDS ${TRAX_DRIVER_IMPORT_LIB})
add_dependencies(trax trax_driver_import)
if(TRAX_KILL_AT)
  # ld's own import library would name the killed plain symbols; callers refer
  # to the decorated ones (_TRAX_GetCalcData@8). dlltool makes it from the
  # decorated module-definition file, binding each to its plain export.
  add_custom_command(TARGET trax POST_BUILD
    COMMAND ${TRAX_DLLTOOL} --input-def ${TRAX_DEF_FILE} --kill-at --dllname Trax.dll
            --output-lib $<TARGET_LINKER_FILE:trax>
    VERBATIM)
endif()
target_link_libraries(trax PRIVATE ${TRAX_DRIVER_IMPORT_LIB} user32 kernel32)
target_link_options(trax PRIVATE -Wl,--no-undefined -Wl,--exclude-all-symbols ${TRAX_KILL_AT})

# The unit tests link the core statically; the Win32 backend needs user32.
target_link_libraries(trax_core PUBLIC user32 kernel32)

# The stand-in driver, when the simulator is part of the build: QelUsbDrv.dll
# exporting exactly the six names of the driver's module-definition file.
#
# 32-bit Windows builds it twice, once with each calling convention, so that
# the whole suite can run against both: simulator/stdcall/ and
# simulator/cdecl/, both apart from the programs in bin/. The programs find
# the one named in WINEPATH (wine's addition to the Windows search path); a
# ctest run without it uses the __stdcall one.
function(trax_stand_in_driver target def_file)
  target_sources(${target} PRIVATE ${def_file})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME QelUsbDrv
    PREFIX ""
    IMPORT_PREFIX ""
    IMPORT_SUFFIX ".lib")
  target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--exclude-all-symbols ${ARGN})
endfunction()

if(TARGET QelUsbDrv AND TRAX_WIN_ARCH STREQUAL "x86")
  trax_stand_in_driver(QelUsbDrv ${TRAX_WIN32_DIR}/QelUsbDrv-x86.def -Wl,--kill-at)
  add_library(QelUsbDrv_cdecl SHARED ${CMAKE_SOURCE_DIR}/sim/StandInDriver.cpp)
  target_link_libraries(QelUsbDrv_cdecl PRIVATE trax_sim)
  target_compile_definitions(QelUsbDrv_cdecl PRIVATE QELUSB_BUILDING_DRIVER QELUSB_USE_CDECL)
  trax_stand_in_driver(QelUsbDrv_cdecl ${TRAX_WIN32_DIR}/QelUsbDrv.def)
  set(TRAX_STAND_IN_DIR ${CMAKE_BINARY_DIR}/simulator)
  set_target_properties(QelUsbDrv PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TRAX_STAND_IN_DIR}/stdcall)
  set_target_properties(QelUsbDrv_cdecl PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TRAX_STAND_IN_DIR}/cdecl)
  # Read by ctest before any test starts: the default driver of a run.
  file(WRITE ${CMAKE_BINARY_DIR}/win32/StandInDriverPath.cmake
    "if(NOT DEFINED ENV{WINEPATH})\n"
    "  set(ENV{WINEPATH} \"Z:${TRAX_STAND_IN_DIR}/stdcall\")\n"
    "  set(ENV{TRAX_EXPECT_DRIVER_CONVENTION} stdcall)\n"
    "endif()\n")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
    ${CMAKE_BINARY_DIR}/win32/StandInDriverPath.cmake)
elseif(TARGET QelUsbDrv)
  trax_stand_in_driver(QelUsbDrv ${TRAX_WIN32_DIR}/QelUsbDrv.def)
endif()
