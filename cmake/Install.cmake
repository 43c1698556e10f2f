# The developer's kit: `cmake --install` puts the header, libtrax.so with the
# stand-in driver beside it, traxctl, a CMake package (find_package(Trax) ->
# Trax::trax), trax.pc for pkg-config, and in share/doc/trax the examples and
# the simulated controller's manual.
#
# Every rule names its component, which is the Debian package it goes to
# (cmake/Packaging.cmake): runtime (libtrax2), dev (libtrax-dev), tools
# (trax-tools: traxctl and the stand-in driver) and python (python3-trax).
include(CMakePackageConfigHelpers)

set(TRAX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Trax)

# The stand-in driver goes beside libtrax.so in a kit, where libtrax.so finds
# it through its run path. A system package keeps it out of the loader's
# folders (TRAX_SIMULATOR_APART), so that it can never stand in front of a
# real driver: only a program started with that folder on its library path
# (traxctl-sim) gets the simulated controller.
option(TRAX_SIMULATOR_APART "Install the stand-in driver in lib/trax/simulator instead of beside libtrax.so" OFF)
set(TRAX_SIMULATOR_LIBDIR ${CMAKE_INSTALL_LIBDIR}/trax/simulator)
option(TRAX_INSTALL_RPATH "Installed libtrax.so and traxctl find their libraries relative to themselves" ON)
if(TRAX_INSTALL_RPATH)
  set_target_properties(trax QelUsbDrv PROPERTIES INSTALL_RPATH "$ORIGIN")
else()
  set_target_properties(trax QelUsbDrv traxctl PROPERTIES INSTALL_RPATH "")
endif()

install(TARGETS trax EXPORT TraxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TRAX_SIMULATOR_APART)
  install(TARGETS QelUsbDrv LIBRARY DESTINATION ${TRAX_SIMULATOR_LIBDIR} COMPONENT tools)
  set(TRAX_SIMULATOR_FULL_DIR ${CMAKE_INSTALL_PREFIX}/${TRAX_SIMULATOR_LIBDIR})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/traxctl-sim.in ${CMAKE_CURRENT_BINARY_DIR}/traxctl-sim @ONLY)
  install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/traxctl-sim DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
else()
  install(TARGETS QelUsbDrv LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT tools)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/trax.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(TARGETS traxctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# The two example programs and the simulated controller's manual (its fault
# and state variables), for a developer who has only the kit.
set(TRAX_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/trax)
install(FILES ${PROJECT_SOURCE_DIR}/examples/read_values.c ${PROJECT_SOURCE_DIR}/examples/storage_to_csv.c
  DESTINATION ${TRAX_DOC_DIR}/examples COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/sim/README.md DESTINATION ${TRAX_DOC_DIR} RENAME simulator.md COMPONENT tools)

# The Python package, when a folder for it is given (Debian's is
# lib/python3/dist-packages), with the setting table it reads.
set(TRAX_PYTHON_INSTALL_DIR "" CACHE STRING "Install the trax Python package here (relative to the prefix)")
if(TRAX_PYTHON_INSTALL_DIR)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/trax DESTINATION ${TRAX_PYTHON_INSTALL_DIR} COMPONENT python
    FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
  install(FILES ${PROJECT_SOURCE_DIR}/client/settings.tsv DESTINATION ${TRAX_PYTHON_INSTALL_DIR}/trax COMPONENT python)
endif()

# The export names the library alone: the driver is whatever the system
# provides, found by the loader, never a target a caller links.
install(EXPORT TraxTargets NAMESPACE Trax:: FILE TraxTargets.cmake DESTINATION ${TRAX_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TraxConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/TraxConfig.cmake
  INSTALL_DESTINATION ${TRAX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TraxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TraxConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/TraxConfigVersion.cmake
  DESTINATION ${TRAX_CMAKE_DIR} COMPONENT dev)

# pkg-config paths relative to the prefix the file ends up in, however deep
# the library folder is (lib/x86_64-linux-gnu/pkgconfig on Debian).
file(RELATIVE_PATH TRAX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/trax.pc.in ${CMAKE_CURRENT_BINARY_DIR}/trax.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/trax.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
