# Trax.dll and its driver import for 64-bit Windows (included from the top-level
# CMakeLists.txt when building for WIN32).
#
# - Exports come only from the generated module-definition file: the 69 TRAX_*
#   functions with ordinals 1..69, nothing else (the header's TRAX_API is empty
#   on Windows, and --exclude-all-symbols keeps ld from exporting anything on
#   its own).
# - The driver is imported by name from QelUsbDrv.dll through an import library
#   made by dlltool from QelUsbDrv.def, so the DLL links the same way whether
#   the stand-in driver is built or not.
# - libgcc, libstdc++ and winpthreads are linked statically by the toolchain
#   file, so the DLL needs nothing beside it but the driver.

include(${CMAKE_CURRENT_LIST_DIR}/TraxExports.cmake)
enable_language(RC)

set(TRAX_WIN32_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TRAX_DEF_FILE ${CMAKE_BINARY_DIR}/win32/Trax.def)
trax_write_export_def(${CMAKE_SOURCE_DIR}/include/trax.h ${TRAX_DEF_FILE})

# Version resource: 2.2.0 from the project becomes 2,2,0,0 and "2, 2, 0, 0".
set(TRAX_RC_VERSION_PARTS ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} 0)
list(JOIN TRAX_RC_VERSION_PARTS "," TRAX_RC_VERSION_COMMAS)
list(JOIN TRAX_RC_VERSION_PARTS ", " TRAX_RC_VERSION_TEXT)
configure_file(${TRAX_WIN32_DIR}/Trax.rc.in ${CMAKE_BINARY_DIR}/win32/Trax.rc @ONLY)

# Import library of the driver.
find_program(TRAX_DLLTOOL NAMES ${TRAX_MINGW_PREFIX}-dlltool x86_64-w64-mingw32-dlltool dlltool REQUIRED)
set(TRAX_DRIVER_IMPORT_LIB ${CMAKE_BINARY_DIR}/win32/libQelUsbDrv-import.a)
add_custom_command(
  OUTPUT ${TRAX_DRIVER_IMPORT_LIB}
  COMMAND ${TRAX_DLLTOOL} --input-def ${TRAX_WIN32_DIR}/QelUsbDrv.def
          --dllname QelUsbDrv.dll --output-lib ${TRAX_DRIVER_IMPORT_LIB}
  DEPENDS ${TRAX_WIN32_DIR}/QelUsbDrv.def
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
# Trax.dll and its import library Trax.lib, as a Windows user expects them.
set_target_properties(trax PROPERTIES
  OUTPUT_NAME Trax
  PREFIX ""
  IMPORT_PREFIX ""
  IMPORT_SUFFIX ".lib"
  LINK_DEPENDS ${TRAX_DRIVER_IMPORT_LIB})
add_dependencies(trax trax_driver_import)
target_link_libraries(trax PRIVATE ${TRAX_DRIVER_IMPORT_LIB} user32 kernel32)
target_link_options(trax PRIVATE -Wl,--no-undefined -Wl,--exclude-all-symbols)

# The unit tests link the core statically; the Win32 backend needs user32.
target_link_libraries(trax_core PUBLIC user32 kernel32)

# The stand-in driver, when the simulator is part of the build: QelUsbDrv.dll
# exporting exactly the six names of the same module-definition file.
if(TARGET QelUsbDrv)
  target_sources(QelUsbDrv PRIVATE ${TRAX_WIN32_DIR}/QelUsbDrv.def)
  set_target_properties(QelUsbDrv PROPERTIES
    OUTPUT_NAME QelUsbDrv
    PREFIX ""
    IMPORT_PREFIX ""
    IMPORT_SUFFIX ".lib")
  target_link_options(QelUsbDrv PRIVATE -Wl,--no-undefined -Wl,--exclude-all-symbols)
endif()
